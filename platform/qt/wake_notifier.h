#pragma once
// The toolkit's event loop waking on a WakeHandle: how the window thread learns that capture
// requests wait. Each system has its own notifier behind it (a socket notifier on a descriptor,
// an event notifier on a HANDLE).

#include "platform/capture_channel.h"

#include <functional>
#include <memory>

class QObject;

namespace glimmerly::platform {

class WakeNotifier {
public:
    // Calls `onWake` from the event loop of the thread it is made on while `handle` is signalled.
    WakeNotifier(WakeHandle handle, std::function<void()> onWake);
    ~WakeNotifier();
    WakeNotifier(const WakeNotifier&) = delete;
    WakeNotifier& operator=(const WakeNotifier&) = delete;

private:
    std::unique_ptr<QObject> notifier_;
};

} // namespace glimmerly::platform
