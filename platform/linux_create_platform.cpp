#include "platform/create_platform.h"

#include "platform/posix/single_instance.h"
#include "platform/qt/qt_parts.h"
#include "platform/wayland/wayland_platform.h"
#include "platform/x11/x11_platform.h"

#include <QGuiApplication>

namespace glimmerly::platform {

// Qt's platform plugin decides: on its Wayland plugin the compositor is talked to as a Wayland
// client, on "xcb" (also XWayland) the X11 backend does everything as before.
// The dialogs and the drops are the toolkit's on both.
std::unique_ptr<Platform> CreatePlatform() {
    std::unique_ptr<Platform> platform =
        QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
            ? CreateWaylandPlatform()
            : CreateX11Platform();
    platform->dialogs = std::make_unique<qt::QtDialogs>();
    platform->fileDrops = std::make_unique<qt::QtFileDrops>();
    return platform;
}

std::unique_ptr<InstanceGuard> AcquireInstanceGuard(const std::string& name) {
    return AcquireSingleInstance(name);
}

} // namespace glimmerly::platform
