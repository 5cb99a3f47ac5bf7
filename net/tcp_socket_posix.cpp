// TcpSocket and CancelSignal on POSIX sockets: poll() on the socket and an eventfd.
#include "net/tcp_socket.h"

#include "net/host_lookup.h"
#include "net/http_errors.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
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

WaitResult TcpSocket::Wait(Await what, int timeoutMs) {
    const short events = what == Await::Read ? POLLIN : POLLOUT;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        int wait = -1;
        if (timeoutMs > 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? int(left) : 0;
        }
        pollfd p[2] = {{socket_, events, 0}, {cancel_.fd_, POLLIN, 0}};
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
    address.sin_addr.s_addr = LookUpIPv4(host);

    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ < 0) {
        throw SocketError(SocketErrorNumber(errno));
    }
    const int nodelay = 0; // keep Nagle's algorithm
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay);
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return;
    }
    if (errno != EINPROGRESS) {
        Fail(errno);
    }
    if (Wait(Await::Connect, timeoutMs) == WaitResult::TimedOut) {
        Close();
        throw SocketError(10060);
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        Fail(errno);
    }
    if (error != 0) {
        Fail(error);
    }
}

void TcpSocket::Adopt(NativeSocket fd) {
    Close();
    socket_ = fd;
    ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
}

std::optional<std::size_t> TcpSocket::TrySend(const char* data, std::size_t n, bool more) {
    const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    while (true) {
        const ssize_t sent = ::send(socket_, data, n, flags);
        if (sent >= 0) {
            return std::size_t(sent);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
        }
        return std::nullopt;
    }
}

std::optional<std::size_t> TcpSocket::TryReceive(char* data, std::size_t n) {
    while (true) {
        const ssize_t got = ::recv(socket_, data, n, 0);
        if (got >= 0) {
            return std::size_t(got);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
        }
        return std::nullopt;
    }
}

void TcpSocket::Close() {
    if (IsOpen()) {
        ::shutdown(socket_, SHUT_WR);
        ::close(socket_);
        socket_ = kNoSocket;
    }
}

} // namespace glimmerly::net
