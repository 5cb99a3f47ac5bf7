#include "service/http/socket_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <microhttpd.h>

#include "service/http/proxy_protocol.h"

namespace glimmerly::service {

namespace {

using Clock = std::chrono::steady_clock;

// A connection whose PROXY header has not fully arrived yet.
struct Pending {
    int fd;
    Clock::time_point deadline;
    sockaddr_storage peer;
    socklen_t peerLength;
};

void HandOver(MHD_Daemon* daemon, int fd, const sockaddr* address, socklen_t length) {
    // The daemon owns the socket from here, also when it refuses it (over a limit): it closes it.
    MHD_add_connection(daemon, fd, address, length);
}

// Reads a PROXY header without taking a byte of the request behind it. True when the connection
// is settled: handed over with the client's address, or closed.
bool TryProxyHeader(MHD_Daemon* daemon, Pending& p) {
    char buffer[kMaxProxyHeader];
    ssize_t n = ::recv(p.fd, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return false;
    }
    ProxyHeader header = n > 0 ? ParseProxyHeader(std::string_view(buffer, n)) : ProxyHeader{};
    if (n > 0 && header.status == ProxyHeader::Status::Incomplete) {
        return false;
    }
    if (n <= 0 || header.status == ProxyHeader::Status::Invalid) {
        ::close(p.fd);
        return true;
    }
    // Take exactly the header; the request stays queued for the daemon.
    std::size_t taken = 0;
    while (taken < header.length) {
        ssize_t r = ::recv(p.fd, buffer, header.length - taken, 0);
        if (r <= 0) {
            ::close(p.fd);
            return true;
        }
        taken += static_cast<std::size_t>(r);
    }
    if (header.family == 4) {
        sockaddr_in client{};
        client.sin_family = AF_INET;
        client.sin_port = htons(header.port);
        std::memcpy(&client.sin_addr, header.address.data(), 4);
        HandOver(daemon, p.fd, reinterpret_cast<sockaddr*>(&client), sizeof client);
    } else if (header.family == 6) {
        sockaddr_in6 client{};
        client.sin6_family = AF_INET6;
        client.sin6_port = htons(header.port);
        std::memcpy(&client.sin6_addr, header.address.data(), 16);
        HandOver(daemon, p.fd, reinterpret_cast<sockaddr*>(&client), sizeof client);
    } else {
        HandOver(daemon, p.fd, reinterpret_cast<sockaddr*>(&p.peer), p.peerLength);
    }
    return true;
}

} // namespace

std::unique_ptr<SocketListener> SocketListener::Open(const std::string& address, std::uint16_t port,
                                                     std::string& error) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        error = "invalid listen address " + address;
        return nullptr;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    // SO_REUSEPORT: a new instance may bind the port while the old one still finishes its
    // requests.
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        error = "cannot listen on " + address + ":" + std::to_string(port);
        return nullptr;
    }
    socklen_t length = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
    return std::unique_ptr<SocketListener>(new SocketListener(fd, ntohs(where.sin_port)));
}

SocketListener::SocketListener(int fd, std::uint16_t port) : fd_(fd), port_(port) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        wake_[0] = wake_[1] = -1;
    }
}

SocketListener::~SocketListener() {
    StopAccepting();
    for (int fd : wake_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void SocketListener::Start(MHD_Daemon* daemon, bool proxyProtocol,
                           std::chrono::milliseconds headerTimeout) {
    daemon_ = daemon;
    proxyProtocol_ = proxyProtocol;
    headerTimeout_ = headerTimeout;
    thread_ = std::thread([this] { Run(); });
}

void SocketListener::StopAccepting() {
    if (thread_.joinable()) {
        char stop = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &stop, 1);
        thread_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void SocketListener::Run() {
    std::vector<Pending> pending;
    bool stopping = false;
    while (!stopping || !pending.empty()) {
        std::vector<pollfd> polled;
        polled.push_back({wake_[0], POLLIN, 0});
        polled.push_back({stopping ? -1 : fd_, POLLIN, 0});
        Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        for (const Pending& p : pending) {
            polled.push_back({p.fd, POLLIN, 0});
            next = std::min(next, p.deadline);
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            timeout = next <= now
                          ? 0
                          : static_cast<int>(
                                std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
        }
        if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) {
            break;
        }
        if (polled[0].revents & POLLIN) {
            // Take what the kernel has queued before the socket goes: those clients already
            // count as connected and would otherwise be reset.
            stopping = true;
        }
        if ((polled[1].revents & POLLIN) || (stopping && fd_ >= 0)) {
            for (;;) {
                Pending p{};
                p.peerLength = sizeof p.peer;
                p.fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&p.peer), &p.peerLength,
                                 SOCK_CLOEXEC);
                if (p.fd < 0) {
                    if (errno == EMFILE || errno == ENFILE) {
                        // Out of descriptors: let the daemon close some before trying again.
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                    break;
                }
                if (proxyProtocol_) {
                    p.deadline = Clock::now() + headerTimeout_;
                    pending.push_back(p);
                } else {
                    HandOver(daemon_, p.fd, reinterpret_cast<sockaddr*>(&p.peer), p.peerLength);
                }
            }
            if (stopping) {
                ::close(fd_);
                fd_ = -1;
            }
        }
        now = Clock::now();
        std::vector<Pending> waiting;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            Pending& p = pending[i];
            bool settled = false;
            if (i + 2 < polled.size() && polled[i + 2].revents) {
                settled = TryProxyHeader(daemon_, p);
            }
            if (!settled && now >= p.deadline) {
                ::close(p.fd);
                settled = true;
            }
            if (!settled) {
                waiting.push_back(p);
            }
        }
        pending = std::move(waiting);
    }
    for (const Pending& p : pending) {
        ::close(p.fd);
    }
}

} // namespace glimmerly::service
