#include "app/desktop_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace glimmerly {

namespace {

bool X11Reachable() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

// The compositor's socket: $WAYLAND_DISPLAY, relative to $XDG_RUNTIME_DIR unless absolute.
bool WaylandReachable() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (display == nullptr || *display == '\0')
        return false;
    std::string path = display;
    if (path.front() != '/') {
        const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
        if (runtimeDir == nullptr || *runtimeDir == '\0')
            return false;
        path = std::string(runtimeDir) + "/" + path;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool reachable =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return reachable;
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
