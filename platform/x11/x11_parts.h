#pragma once
// The X11 implementations of the platform interfaces. Internal to platform/x11; callers use
// CreateX11Platform().

#include "platform/platform.h"
#include "platform/x11/x11_context.h"

#include <QAbstractNativeEventFilter>
#include <QEventLoop>
#include <QObject>

#include <map>
#include <memory>
#include <set>

namespace glimmerly::platform::x11 {

class SharedImage;

class X11Screen : public Screen {
public:
    explicit X11Screen(std::shared_ptr<Context> context);
    ~X11Screen() override;
    std::vector<Monitor> Monitors() override;
    Picture Grab(const Rect& band) override;

private:
    std::shared_ptr<Context> context_;
    std::unique_ptr<SharedImage> shared_; // the grabs' MIT-SHM segment
};

class X11Windows : public Windows {
public:
    explicit X11Windows(std::shared_ptr<Context> context) : context_(std::move(context)) {}
    std::optional<WindowInfo> Foreground() override;
    void BringToFront(std::uintptr_t nativeId) override;

private:
    std::optional<xcb_window_t> ForegroundWindow();
    std::optional<xcb_window_t> WindowManagerCheck();
    xcb_window_t TopLevelOf(xcb_window_t window);
    std::string TitleOf(xcb_window_t window);
    std::optional<Rect> OuterRectOf(xcb_window_t window);
    std::shared_ptr<Context> context_;
};

class X11HotKeys : public HotKeys, public QAbstractNativeEventFilter {
public:
    explicit X11HotKeys(std::shared_ptr<Context> context);
    ~X11HotKeys() override;
    bool Register(int id, Key key, unsigned modifiers) override;
    void Unregister(int id) override;
    void SetHandler(std::function<void(int id)> onHotKey) override;
    void DiscardPending() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        std::vector<xcb_keycode_t> keycodes;
        std::uint16_t modifiers = 0; // X modifier mask, without Lock and NumLock
    };
    std::vector<std::uint16_t> LockVariants() const;
    void Ungrab(const Grab& grab);

    std::shared_ptr<Context> context_;
    std::uint16_t numLockMask_ = 0;
    std::map<int, Grab> grabs_;
    std::function<void(int)> handler_;
    // Receiver of the queued handler calls; calls still queued die with it.
    std::unique_ptr<QObject> receiver_ = std::make_unique<QObject>();
    std::map<xcb_keycode_t, std::uint32_t> lastRelease_;
    std::set<xcb_keycode_t> down_;
    // DiscardPending(): presses handed on before the current generation are dropped; while
    // `discarding_` the filter drops them itself, until the marker sent through the X server
    // comes back to `markerWindow_` (every press the server queued before it has then arrived).
    std::uint64_t generation_ = 0;
    bool discarding_ = false;
    std::uint32_t markerSerial_ = 0;
    xcb_window_t markerWindow_ = XCB_WINDOW_NONE;
    QEventLoop* markerLoop_ = nullptr;
};

class X11Shell : public Shell {
public:
    explicit X11Shell(std::shared_ptr<Context> context) : context_(std::move(context)) {}
    void Open(const std::string& address) override;
    void PressShift() override;
    void ReleaseShift() override;

private:
    void FakeShift(std::uint8_t type);
    std::shared_ptr<Context> context_;
};

// Keycodes that produce `keysym` in the current keyboard mapping (any column).
std::vector<xcb_keycode_t> KeycodesOf(xcb_connection_t* connection, std::uint32_t keysym);

} // namespace glimmerly::platform::x11
