#pragma once
// Which protocols the compositor offers, asked over a connection of our own in the plain Wayland
// wire format (no client library): get the registry, sync, collect the announced interfaces
// until the sync is done. No Qt.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerly::platform::wayland {

// The compositor's socket: $WAYLAND_DISPLAY, relative to $XDG_RUNTIME_DIR unless absolute; empty
// when either is missing.
std::string WaylandSocketPath();

// The two requests: wl_display.get_registry (registry id 2) and wl_display.sync (callback id 3).
std::string RegistryRequests();

// Reads events from `stream` (which may end in the middle of one): interface names announced by
// the registry are appended to `interfaces`. Returns the bytes used; sets `done` once the sync
// callback fired and `failed` on a protocol error event or a malformed message.
std::size_t ReadRegistryEvents(std::string_view stream, std::vector<std::string>& interfaces,
                               bool& done, bool& failed);

// Every interface the compositor at `socketPath` announces; nullopt when it cannot be asked.
std::optional<std::vector<std::string>> CompositorInterfaces(const std::string& socketPath,
                                                             int timeoutMs = 1000);

} // namespace glimmerly::platform::wayland
