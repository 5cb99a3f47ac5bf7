#pragma once
// The Wayland implementations of the platform interfaces. Internal to platform/wayland; callers
// use CreateWaylandPlatform().

#include "platform/platform.h"

#include <memory>
#include <string>

namespace glimmerly::platform::wayland {

enum class GrabRoute { Grim, Portal };

// The route forced by `forced` (the environment variable's value, may be null), else grim where
// it can grab (a wlroots compositor offering screencopy, and grim installed), else the portal.
GrabRoute ChooseGrabRoute(const char* forced, bool grimCanGrab);

class PortalScreenshot;

class WaylandScreen : public Screen {
public:
    explicit WaylandScreen(GrabRoute route);
    ~WaylandScreen() override;
    // Qt's screens in layout coordinates; see MarkPrimary() for the primary one.
    std::vector<Monitor> Monitors() override;
    Picture Grab(const Rect& band) override;

private:
    GrabRoute route_;
    std::unique_ptr<PortalScreenshot> portal_;
};

// The whole layout through `grim` at scale 1, its top-left pixel at the layout's top-left.
// Throws std::runtime_error (German, Windows-1252).
Picture GrabWithGrim();

class WaylandWindows : public Windows {
public:
    // `swaySocket`: the compositor's IPC socket; empty where there is none.
    explicit WaylandWindows(std::string swaySocket) : swaySocket_(std::move(swaySocket)) {}
    std::optional<WindowInfo> Foreground() override;
    void BringToFront(std::uintptr_t nativeId) override;

private:
    std::string swaySocket_;
};

// No global key grabs exist on Wayland: the desktop's own key binding runs
// `glimmerly --capture`, which arrives through the capture channel. Registering succeeds without
// effect, so the program reports no taken keys; nothing is ever pending here.
class WaylandHotKeys : public HotKeys {
public:
    bool Register(int, Key, unsigned) override { return true; }
    void Unregister(int) override {}
    void SetHandler(std::function<void(int id)>) override {}
    void DiscardPending() override {}
};

class WaylandShell : public Shell {
public:
    void Open(const std::string& address) override;
    // A client cannot press keys for the user on Wayland; the browser opens all the same.
    void PressShift() override {}
    void ReleaseShift() override {}
};

} // namespace glimmerly::platform::wayland
