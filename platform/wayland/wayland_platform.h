#pragma once
// The desktop on a Wayland compositor, for a Qt application running on Qt's Wayland platform.

#include "platform/platform.h"

#include <memory>

namespace glimmerly::platform {

// Environment variable that forces the screen grab route: "grim" (the wlroots screencopy
// program) or "portal" (the desktop portal's Screenshot call). Unset: grim where the compositor
// offers wlroots screencopy (sway and others) and grim is installed, else the portal.
inline constexpr const char* kWaylandGrabVariable = "GLIMMERLY_WAYLAND_GRAB";

// Needs a QGuiApplication (or QApplication); the parts must be used on the window thread and
// destroyed before the application object. Posts its notices (global keys, the active window)
// to the platform's notice channel.
std::unique_ptr<Platform> CreateWaylandPlatform();

} // namespace glimmerly::platform
