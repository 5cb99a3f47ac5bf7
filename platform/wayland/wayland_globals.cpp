#include "platform/wayland/wayland_globals.h"

#include "platform/wayland/wayland_wire.h"

#include <cstdlib>

namespace glimmerly::platform::wayland {

namespace {

// The interface name of a wl_registry.global event's arguments (name, string, version).
std::optional<std::string> GlobalInterface(std::string_view args) {
    std::optional<std::string> name = wire::GetString(args, 4);
    if (name && args.size() < 12 + ((name->size() + 4) & ~std::size_t{3}))
        return std::nullopt; // no version after the string
    return name;
}

} // namespace

std::string WaylandSocketPath() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (display == nullptr || *display == '\0')
        return {};
    const std::string name = display;
    if (name.front() == '/')
        return name;
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir == nullptr || *runtimeDir == '\0')
        return {};
    return std::string(runtimeDir) + "/" + name;
}

std::string RegistryRequests() {
    return wire::RegistryAndSync();
}

std::size_t ReadRegistryEvents(std::string_view stream, std::vector<std::string>& interfaces,
                               bool& done, bool& failed) {
    return wire::ReadEvents(
        stream,
        [&](const wire::Event& event) {
            if (event.object == wire::kRegistry && event.opcode == 0) {
                if (auto name = GlobalInterface(event.args))
                    interfaces.push_back(std::move(*name));
                else
                    failed = true;
            } else if (event.object == wire::kCallback && event.opcode == 0) {
                done = true;
            }
            return !done && !failed;
        },
        failed);
}

std::optional<std::vector<std::string>> CompositorInterfaces(const std::string& socketPath,
                                                             int timeoutMs) {
    std::vector<std::string> interfaces;
    bool done = false;
    bool failed = false;
    const bool answered =
        wire::Converse(socketPath, timeoutMs, RegistryRequests(), [&](std::string_view pending) {
            wire::Reading reading;
            reading.used = ReadRegistryEvents(pending, interfaces, done, failed);
            reading.finished = done || failed;
            return reading;
        });
    if (!answered || !done || failed)
        return std::nullopt;
    return interfaces;
}

} // namespace glimmerly::platform::wayland
