#include "platform/wayland/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace glimmerly::platform::wayland {

namespace {

constexpr std::string_view kMagic = "i3-ipc";

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReadExactly(int fd, char* out, std::size_t size, int timeoutMs) {
    while (size > 0) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(fd, out, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string SwayRequest(std::uint32_t type, std::string_view payload) {
    std::string message(kMagic);
    const auto length = static_cast<std::uint32_t>(payload.size());
    message.append(reinterpret_cast<const char*>(&length), sizeof length);
    message.append(reinterpret_cast<const char*>(&type), sizeof type);
    message.append(payload);
    return message;
}

std::optional<std::uint32_t> SwayReplyLength(std::string_view header, std::uint32_t type) {
    if (header.size() != kSwayHeaderSize || header.substr(0, kMagic.size()) != kMagic)
        return std::nullopt;
    std::uint32_t length = 0;
    std::uint32_t replyType = 0;
    std::memcpy(&length, header.data() + kMagic.size(), sizeof length);
    std::memcpy(&replyType, header.data() + kMagic.size() + 4, sizeof replyType);
    if (replyType != type || length > kMaxSwayReply)
        return std::nullopt;
    return length;
}

std::optional<std::string> SwayQuery(const std::string& socketPath, std::uint32_t type,
                                     std::string_view payload, int timeoutMs) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.fd() < 0 ||
        ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::nullopt;
    if (!WriteAll(socket.fd(), SwayRequest(type, payload)))
        return std::nullopt;
    // sway sends events of its own only after a subscription, so the next reply is ours.
    char header[kSwayHeaderSize];
    if (!ReadExactly(socket.fd(), header, sizeof header, timeoutMs))
        return std::nullopt;
    const auto length = SwayReplyLength(std::string_view(header, sizeof header), type);
    if (!length)
        return std::nullopt;
    std::string reply(*length, '\0');
    if (!ReadExactly(socket.fd(), reply.data(), reply.size(), timeoutMs))
        return std::nullopt;
    return reply;
}

} // namespace glimmerly::platform::wayland
