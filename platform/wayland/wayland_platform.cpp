#include "platform/wayland/wayland_platform.h"

#include "platform/posix/posix_files.h"
#include "platform/wayland/wayland_globals.h"
#include "platform/wayland/wayland_parts.h"
#include "text/cp1252.h"

#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>

namespace glimmerly::platform {

namespace {

// grim needs the wlroots screencopy protocol; sway always has it.
bool GrimCanGrab(bool onSway) {
    if (QStandardPaths::findExecutable(QStringLiteral("grim")).isEmpty())
        return false;
    if (onSway)
        return true;
    const auto interfaces = wayland::CompositorInterfaces(wayland::WaylandSocketPath());
    return interfaces && std::find(interfaces->begin(), interfaces->end(),
                                   "zwlr_screencopy_manager_v1") != interfaces->end();
}

} // namespace

std::unique_ptr<Platform> CreateWaylandPlatform() {
    const char* swaySocket = std::getenv("SWAYSOCK");
    const bool onSway = swaySocket != nullptr && *swaySocket != '\0';
    auto platform = std::make_unique<Platform>();
    platform->screen = std::make_unique<wayland::WaylandScreen>(
        wayland::ChooseGrabRoute(std::getenv(kWaylandGrabVariable), GrimCanGrab(onSway)));
    platform->windows = std::make_unique<wayland::WaylandWindows>(onSway ? swaySocket : "");
    platform->hotKeys = std::make_unique<wayland::WaylandHotKeys>();
    platform->shell = std::make_unique<wayland::WaylandShell>();
    platform->files = std::make_unique<PosixFiles>();

    platform->notices->Post(
        cp1252::FromUtf8("Wayland: Druck-Taste im Desktop an „glimmerly --capture“ binden."));
    if (!onSway) {
        platform->notices->Post(cp1252::FromUtf8(
            "Aktives Fenster unbekannt – es wird der ganze Bildschirm gespeichert."));
    }
    return platform;
}

} // namespace glimmerly::platform
