#include "platform/desktop_session.h"

#include "platform/wayland/activation.h"
#include "platform/wayland/wayland_globals.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace glimmerly::platform {

namespace {

bool X11Reachable() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

// A compositor that answers on $WAYLAND_DISPLAY.
bool WaylandReachable() {
    return wayland::CompositorInterfaces(wayland::WaylandSocketPath()).has_value();
}

} // namespace

void ConnectConsole() {} // a terminal's output reaches every program started from it

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

const char* DesktopFailedText() {
    return "Glimmerly braucht einen X11-Desktop";
}

const char* NoCaptureChannelText() {
    return "glimmerly: Aufnahme-Anfragen (--capture) sind nicht möglich: der Kanal im privaten "
           "Ordner ließ sich nicht öffnen.\n";
}

std::string ActivationToken() {
    std::string token = wayland::LauncherActivationToken();
    if (token.empty()) {
        if (const std::string socket = wayland::WaylandSocketPath(); !socket.empty())
            token = wayland::RequestActivationToken(socket).value_or(std::string());
    }
    return token;
}

void WithActivationToken(const std::string& activationToken, const std::function<void()>& capture) {
    // Taken only while no job runs, so no other thread reads the environment yet.
    const wayland::ActivationTokenScope token(activationToken);
    capture();
}

} // namespace glimmerly::platform
