#include "platform/wayland/wayland_wire.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace glimmerly::platform::wayland::wire {

namespace {

// Any real answer is a few kilobytes; a stream beyond this is not a compositor's.
constexpr std::size_t kMaxAnswer = 1u << 20;

bool SendAll(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

} // namespace

void PutWord(std::string& out, std::uint32_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::uint32_t GetWord(std::string_view data, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, data.data() + at, sizeof value);
    return value;
}

void PutString(std::string& out, std::string_view text) {
    PutWord(out, static_cast<std::uint32_t>(text.size() + 1));
    out += text;
    out.append(4 - text.size() % 4, '\0');
}

std::optional<std::string> GetString(std::string_view args, std::size_t at) {
    if (args.size() < at + 4)
        return std::nullopt;
    const std::size_t length = GetWord(args, at);
    const std::size_t padded = (length + 3) & ~std::size_t{3};
    if (length == 0 || args.size() - at - 4 < padded || args[at + 4 + length - 1] != '\0')
        return std::nullopt;
    return std::string(args.substr(at + 4, length - 1));
}

void PutRequest(std::string& out, std::uint32_t object, std::uint32_t opcode,
                std::string_view args) {
    PutWord(out, object);
    PutWord(out, static_cast<std::uint32_t>((args.size() + 8) << 16) | opcode);
    out += args;
}

std::string RegistryAndSync() {
    std::string out;
    std::string id;
    PutWord(id, kRegistry);
    PutRequest(out, kDisplay, 1, id); // get_registry
    id.clear();
    PutWord(id, kCallback);
    PutRequest(out, kDisplay, 0, id); // sync
    return out;
}

std::size_t ReadEvents(std::string_view stream, const std::function<bool(const Event&)>& take,
                       bool& failed) {
    std::size_t used = 0;
    while (!failed && stream.size() - used >= 8) {
        const std::uint32_t object = GetWord(stream, used);
        const std::uint32_t sizeAndOpcode = GetWord(stream, used + 4);
        const std::size_t size = sizeAndOpcode >> 16;
        if (size < 8 || size % 4 != 0) {
            failed = true;
            break;
        }
        if (stream.size() - used < size)
            break; // the rest of this event has not come yet
        const Event event{object, sizeAndOpcode & 0xffff, stream.substr(used + 8, size - 8)};
        used += size;
        if (event.object == kDisplay && event.opcode == 0) {
            failed = true; // wl_display.error
            break;
        }
        if (!take(event))
            break;
    }
    return used;
}

bool Converse(const std::string& socketPath, int timeoutMs, const std::string& hello,
              const std::function<Reading(std::string_view pending)>& read) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool finished = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        SendAll(fd, hello)) {
        std::string pending;
        char buffer[4096];
        while (!finished && pending.size() < kMaxAnswer) {
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
            Reading reading = read(pending);
            pending.erase(0, reading.used);
            finished = reading.finished;
            if (!finished && !reading.send.empty() && !SendAll(fd, reading.send))
                break;
        }
    }
    ::close(fd);
    return finished;
}

} // namespace glimmerly::platform::wayland::wire
