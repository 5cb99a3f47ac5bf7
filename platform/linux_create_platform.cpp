#include "platform/create_platform.h"

#include "platform/posix/single_instance.h"
#include "platform/wayland/wayland_platform.h"
#include "platform/x11/x11_platform.h"

#include <QGuiApplication>

namespace glimmerly::platform {

// Qt's platform plugin decides: on its Wayland plugin the compositor is talked to as a Wayland
// client, on "xcb" (also XWayland) the X11 backend does everything as before.
std::unique_ptr<Platform> CreatePlatform() {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return CreateWaylandPlatform();
    return CreateX11Platform();
}

std::unique_ptr<InstanceGuard> AcquireInstanceGuard(const std::string& name) {
    return AcquireSingleInstance(name);
}

} // namespace glimmerly::platform
