#include "app/desktop_check.h"

#include "platform/wayland/wayland_globals.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace glimmerly {

namespace {

bool X11Reachable() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

// A compositor that answers on $WAYLAND_DISPLAY.
bool WaylandReachable() {
    return platform::wayland::CompositorInterfaces(platform::wayland::WaylandSocketPath())
        .has_value();
}

} // namespace

bool DisplayReachable() {
    if (X11Reachable())
        return true;
    if (!WaylandReachable())
        return false;
    // Only the compositor is there: the toolkit must not try X11 first.
    ::setenv("QT_QPA_PLATFORM", "wayland", 0);
    return true;
}

const char* NoDisplayText() {
    return "Glimmerly braucht eine grafische Arbeitsumgebung (X11 oder Wayland), aber es ist "
           "keine erreichbar.\nBitte in einer Desktop-Sitzung starten (DISPLAY oder "
           "WAYLAND_DISPLAY gesetzt).\n";
}

} // namespace glimmerly
