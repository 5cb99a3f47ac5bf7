#include "platform/win32/win32_file_drops.h"

#include "platform/win32/dropped_files.h"

#include "platform/win32/windows_api.h"
// After <windows.h>, which it needs.
#include <ole2.h>

#include <QCoreApplication>

namespace glimmerly::platform::win32 {

Win32FileDrops::Win32FileDrops() {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

Win32FileDrops::~Win32FileDrops() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

void Win32FileDrops::Accept(std::uintptr_t window, bool on) {
    if (window == 0)
        return;
    window_ = window;
    const auto hwnd = reinterpret_cast<HWND>(window);
    if (on)
        ::RevokeDragDrop(hwnd); // nothing to revoke is fine
    ::DragAcceptFiles(hwnd, on ? TRUE : FALSE);
}

// The shell posts WM_DROPFILES to the window, so Qt's event loop shows it here before it is
// dispatched; a loop that is not Qt's (a system dialog's) dispatches it to Qt's window procedure,
// which shows it here as well. Either way it passes once.
bool Win32FileDrops::nativeEventFilter(const QByteArray& eventType, void* message,
                                       qintptr* result) {
    if (eventType != "windows_generic_MSG")
        return false;
    const MSG& msg = *static_cast<const MSG*>(message);
    const auto window = reinterpret_cast<HWND>(window_);
    if (msg.message != WM_DROPFILES || window == nullptr ||
        (msg.hwnd != window && !::IsChild(window, msg.hwnd)))
        return false;
    const auto drop = reinterpret_cast<HDROP>(msg.wParam);
    std::vector<std::string> paths = DroppedPaths(drop);
    ::DragFinish(drop);
    if (result)
        *result = 0;
    if (onDrop_ && !paths.empty()) {
        // Handed on from the event loop rather than from inside the filter, so the handler may
        // open modal windows (the editor).
        QMetaObject::invokeMethod(
            receiver_.get(),
            [this, paths = std::move(paths)] {
                if (onDrop_)
                    onDrop_(paths);
            },
            Qt::QueuedConnection);
    }
    return true;
}

} // namespace glimmerly::platform::win32
