#include "platform/wayland/wayland_globals.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace glimmerly::platform::wayland {

namespace {

constexpr std::uint32_t kDisplay = 1;
constexpr std::uint32_t kRegistry = 2;
constexpr std::uint32_t kCallback = 3;
// Any real answer is a few kilobytes; a stream beyond this is not a compositor's.
constexpr std::size_t kMaxAnswer = 1u << 20;

void Put(std::string& out, std::uint32_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::uint32_t Get(std::string_view data, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, data.data() + at, sizeof value);
    return value;
}

// The interface name of a wl_registry.global event's arguments (name, string, version).
std::optional<std::string> GlobalInterface(std::string_view args) {
    if (args.size() < 12)
        return std::nullopt;
    const std::uint32_t length = Get(args, 4); // with the terminating NUL
    const std::size_t padded = (static_cast<std::size_t>(length) + 3) & ~std::size_t{3};
    if (length == 0 || padded + 12 > args.size() || args[8 + length - 1] != '\0')
        return std::nullopt;
    return std::string(args.substr(8, length - 1));
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
    std::string out;
    Put(out, kDisplay);
    Put(out, (12u << 16) | 1u); // get_registry
    Put(out, kRegistry);
    Put(out, kDisplay);
    Put(out, (12u << 16) | 0u); // sync
    Put(out, kCallback);
    return out;
}

std::size_t ReadRegistryEvents(std::string_view stream, std::vector<std::string>& interfaces,
                               bool& done, bool& failed) {
    std::size_t used = 0;
    while (!done && !failed && stream.size() - used >= 8) {
        const std::uint32_t object = Get(stream, used);
        const std::uint32_t sizeAndOpcode = Get(stream, used + 4);
        const std::size_t size = sizeAndOpcode >> 16;
        const std::uint32_t opcode = sizeAndOpcode & 0xffff;
        if (size < 8 || size % 4 != 0) {
            failed = true;
            break;
        }
        if (stream.size() - used < size)
            break; // the rest of this event has not come yet
        const std::string_view args = stream.substr(used + 8, size - 8);
        if (object == kDisplay && opcode == 0) {
            failed = true; // wl_display.error
        } else if (object == kRegistry && opcode == 0) {
            if (auto name = GlobalInterface(args))
                interfaces.push_back(std::move(*name));
            else
                failed = true;
        } else if (object == kCallback && opcode == 0) {
            done = true;
        }
        used += size;
    }
    return used;
}

std::optional<std::vector<std::string>> CompositorInterfaces(const std::string& socketPath,
                                                             int timeoutMs) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    std::vector<std::string> interfaces;
    bool done = false;
    bool failed = false;
    const std::string request = RegistryRequests();
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        std::string pending;
        char buffer[4096];
        while (!done && !failed && pending.size() < kMaxAnswer) {
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, timeoutMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<std::size_t>(n));
            pending.erase(0, ReadRegistryEvents(pending, interfaces, done, failed));
        }
    }
    ::close(fd);
    if (!done || failed)
        return std::nullopt;
    return interfaces;
}

} // namespace glimmerly::platform::wayland
