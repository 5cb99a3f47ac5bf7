#include "platform/win32/win32_hotkeys.h"

#include "platform/win32/windows_api.h"

#include <QCoreApplication>

namespace glimmerly::platform::win32 {

Win32HotKeys::Win32HotKeys() {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

Win32HotKeys::~Win32HotKeys() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

bool Win32HotKeys::Register(int id, Key key, unsigned modifiers) {
    return registry_.Register(id, key, modifiers);
}

void Win32HotKeys::Unregister(int id) {
    registry_.Unregister(id);
}

void Win32HotKeys::SetHandler(std::function<void(int id)> onHotKey) {
    handler_ = std::move(onHotKey);
}

void Win32HotKeys::DiscardPending() {
    ++generation_;
    // The system queues presses in order; what is in the queue now was pressed before this call.
    HotKeyRegistry::DropQueuedPresses();
}

// Qt's event loop shows every message it takes from the thread's queue as "windows_generic_MSG";
// a press registered without a window is a thread message, which no window procedure sees, so
// each press passes here once. (A loop that is not Qt's, such as a system dialog's, drops such
// messages: a press made while one is open is lost.)
bool Win32HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG")
        return false;
    const int id = registry_.PressOf(*static_cast<const MSG*>(message));
    if (id < 0)
        return false;
    if (handler_) {
        // Delivered from the event loop rather than from inside Qt's event processing, so the
        // handler may open modal windows.
        QMetaObject::invokeMethod(
            receiver_.get(),
            [this, id, generation = generation_] {
                if (handler_ && generation == generation_ && registry_.Holds(id))
                    handler_(id);
            },
            Qt::QueuedConnection);
    }
    return true;
}

} // namespace glimmerly::platform::win32
