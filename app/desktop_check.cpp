#include "app/desktop_check.h"

#include <xcb/xcb.h>

namespace glimmerly {

bool DisplayReachable() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

const char* NoDisplayText() {
    return "Glimmerly braucht eine grafische Arbeitsumgebung (X11), aber es ist keine "
           "erreichbar.\nBitte in einer Desktop-Sitzung starten (DISPLAY gesetzt).\n";
}

} // namespace glimmerly
