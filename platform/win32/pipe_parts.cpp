#include "platform/win32/pipe_parts.h"

#include <sddl.h>

#include <vector>

namespace glimmerly::platform::pipe {

Overlapped::Overlapped() {
    ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Overlapped::~Overlapped() {
    if (ov.hEvent)
        ::CloseHandle(ov.hEvent);
}

long Overlapped::Finish(HANDLE handle, BOOL started, DWORD ms) {
    if (!started && ::GetLastError() != ERROR_IO_PENDING)
        return -1;
    if (::WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0)
        ::CancelIoEx(handle, &ov);
    DWORD moved = 0;
    if (!::GetOverlappedResult(handle, &ov, &moved, TRUE))
        return -1;
    return static_cast<long>(moved);
}

namespace {

// The SID of the user `process` runs as, as text; empty when it cannot be read.
std::string ProcessUserSid(HANDLE process) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    std::string sid;
    char* text = nullptr;
    if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = text;
        ::LocalFree(text);
    }
    ::CloseHandle(token);
    return sid;
}

} // namespace

std::string OwnUserSid() {
    return ProcessUserSid(::GetCurrentProcess());
}

bool RunsAsOwnUser(DWORD processId) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return false;
    const std::string sid = ProcessUserSid(process);
    ::CloseHandle(process);
    return !sid.empty() && sid == OwnUserSid();
}

} // namespace glimmerly::platform::pipe
