#pragma once
// Files dropped on a window of the program through WM_DROPFILES: the window is armed with
// DragAcceptFiles, and Qt's event loop shows each posted drop to the native event filter here,
// which reads the paths, releases the drop and hands the paths on from the event loop.

#include "platform/platform.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace glimmerly::platform::win32 {

class Win32FileDrops : public QAbstractNativeEventFilter, public FileDrops {
public:
    using Handler = std::function<void(const std::vector<std::string>& paths)>;

    // Installs itself as a native event filter of the running application. The handler gets the
    // UTF-8 paths of each drop on the window, called from the event loop after the message.
    Win32FileDrops();
    explicit Win32FileDrops(Handler onDrop) : Win32FileDrops() { onDrop_ = std::move(onDrop); }
    ~Win32FileDrops() override;

    void SetHandler(Handler onDrop) override { onDrop_ = std::move(onDrop); }

    // DragAcceptFiles(window, on). Arming also revokes the OLE drop target that Qt registers for
    // every top-level window: while one is registered, drops go to it and WM_DROPFILES never
    // comes (so the window must not take Qt's drops, setAcceptDrops, either). Drops still queued
    // for the window after it stopped accepting are handed on all the same; drops on other
    // windows pass by.
    void Accept(std::uintptr_t window, bool on) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    Handler onDrop_;
    std::uintptr_t window_ = 0;
    // Receiver of the queued handler calls; calls still queued die with it.
    std::unique_ptr<QObject> receiver_ = std::make_unique<QObject>();
};

} // namespace glimmerly::platform::win32
