#include "net/tcp_socket.h"

#include "net/http_errors.h"
#include "net/http_text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace glimmerly::net {

CancelSignal::CancelSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) {
        throw SocketError(SocketErrorNumber(errno));
    }
}

CancelSignal::~CancelSignal() {
    ::close(fd_);
}

void CancelSignal::Fire() {
    fired_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    // The counter is never read back, so the descriptor stays readable for good.
    [[maybe_unused]] const ssize_t r = ::write(fd_, &one, sizeof one);
}

void TcpSocket::Fail(int errnoValue) {
    Close();
    throw SocketError(SocketErrorNumber(errnoValue));
}

WaitResult TcpSocket::Wait(short events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        int wait = -1;
        if (timeoutMs > 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? int(left) : 0;
        }
        pollfd p[2] = {{fd_, events, 0}, {cancel_.Descriptor(), POLLIN, 0}};
        const int r = ::poll(p, 2, wait);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(errno);
        }
        if (p[1].revents != 0) {
            Close();
            throw SocketError(kCancelled);
        }
        if (r > 0) {
            return WaitResult::Ready; // errors and hang-ups show up in the call that follows
        }
        if (timeoutMs > 0 && Clock::now() >= deadline) {
            return WaitResult::TimedOut;
        }
    }
}

void TcpSocket::Connect(const std::string& host, int port, int timeoutMs) {
    Close();
    if (cancel_.Fired()) {
        throw SocketError(kCancelled);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    if (EqualsNoCase(host, "LOCALHOST")) {
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else if (IsDottedQuad(host)) {
        if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
            throw SocketError(11001);
        }
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 ||
            found == nullptr) {
            throw SocketError(11001);
        }
        address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }

    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        throw SocketError(SocketErrorNumber(errno));
    }
    const int nodelay = 0; // keep Nagle's algorithm
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return;
    }
    if (errno != EINPROGRESS) {
        Fail(errno);
    }
    if (Wait(POLLOUT, timeoutMs) == WaitResult::TimedOut) {
        Close();
        throw SocketError(10060);
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        Fail(errno);
    }
    if (error != 0) {
        Fail(error);
    }
}

void TcpSocket::Adopt(int fd) {
    Close();
    fd_ = fd;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

std::size_t TcpSocket::SendSome(const char* data, std::size_t n, int timeoutMs, bool more) {
    if (fd_ < 0) {
        throw HttpError("Not Connected");
    }
    const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    while (true) {
        const ssize_t sent = ::send(fd_, data, n, flags);
        if (sent >= 0) {
            return std::size_t(sent);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
        }
        if (Wait(POLLOUT, timeoutMs) == WaitResult::TimedOut) {
            Close();
            throw SocketError(10060);
        }
    }
}

std::size_t TcpSocket::ReceiveSome(char* data, std::size_t n) {
    if (fd_ < 0) {
        throw HttpError("Not Connected");
    }
    while (true) {
        const ssize_t got = ::recv(fd_, data, n, 0);
        if (got >= 0) {
            return std::size_t(got);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
        }
        Wait(POLLIN, 0);
    }
}

WaitResult TcpSocket::WaitReadable(int timeoutMs) {
    if (fd_ < 0) {
        throw HttpError("Not Connected");
    }
    return Wait(POLLIN, timeoutMs);
}

void TcpSocket::Close() {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_WR);
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace glimmerly::net
