#pragma once
// The hot key interface on Windows: the keys are registered for the window thread
// (HotKeyRegistry), and Qt's event loop shows each WM_HOTKEY it takes from the queue to the
// native event filter here. Internal to platform/win32.

#include "platform/platform.h"
#include "platform/win32/hotkey_registry.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

namespace glimmerly::platform::win32 {

class Win32HotKeys : public HotKeys, public QAbstractNativeEventFilter {
public:
    // Installs itself as a native event filter of the running application.
    Win32HotKeys();
    ~Win32HotKeys() override;

    bool Register(int id, Key key, unsigned modifiers) override;
    void Unregister(int id) override;
    void SetHandler(std::function<void(int id)> onHotKey) override;
    void DiscardPending() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    HotKeyRegistry registry_;
    std::function<void(int)> handler_;
    // Receiver of the queued handler calls; calls still queued die with it.
    std::unique_ptr<QObject> receiver_ = std::make_unique<QObject>();
    // Presses handed on before DiscardPending() raised the generation are dropped.
    std::uint64_t generation_ = 0;
};

} // namespace glimmerly::platform::win32
