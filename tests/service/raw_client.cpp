#include "tests/service/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tests/service/harness.h"

namespace glimmerly::service::test {

int ConnectFrom(const char* source, std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string ReadReply(int fd, int timeoutMs, std::string* head) {
    std::string buffer;
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!ReadMore(fd, buffer, timeoutMs)) {
            return {};
        }
    }
    if (head) {
        *head = buffer.substr(0, headEnd);
    }
    std::size_t at = buffer.find("Content-Length: ");
    if (at == std::string::npos || at > headEnd) {
        return {};
    }
    std::size_t length = std::stoul(buffer.substr(at + 16));
    while (buffer.size() < headEnd + 4 + length) {
        if (!ReadMore(fd, buffer, timeoutMs)) {
            return {};
        }
    }
    return buffer.substr(headEnd + 4, length);
}

bool ClosedByServer(int fd) {
    char byte;
    ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

bool WaitForClose(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    return ClosedByServer(fd);
}

} // namespace glimmerly::service::test
