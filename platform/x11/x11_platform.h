#pragma once
// The real desktop on Linux: X11 through xcb, on the connection of the running Qt application.

#include "platform/platform.h"

#include <memory>

namespace glimmerly::platform {

// Needs a QGuiApplication (or QApplication) running on the "xcb" platform plugin; throws
// std::runtime_error otherwise. The parts must be used on the window thread and destroyed before
// the application object.
std::unique_ptr<Platform> CreateX11Platform();

} // namespace glimmerly::platform
