#pragma once
// What both ends of the capture pipe use: overlapped operations with a deadline and the user a
// process runs as. Windows only, no Qt.

#include "platform/win32/windows_api.h"

#include <string>

namespace glimmerly::platform::pipe {

// An event and an OVERLAPPED that uses it, for one operation at a time.
struct Overlapped {
    Overlapped();
    ~Overlapped();
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    // Waits up to `ms` for the operation that returned `started` to end; cancels it otherwise.
    // The bytes moved, or -1 when it failed or was cancelled.
    long Finish(HANDLE handle, BOOL started, DWORD ms);

    OVERLAPPED ov{};
};

// The SID of the user this process runs as, as text; empty when it cannot be read.
std::string OwnUserSid();
// Whether the process `processId` runs as this process's user.
bool RunsAsOwnUser(DWORD processId);

} // namespace glimmerly::platform::pipe
