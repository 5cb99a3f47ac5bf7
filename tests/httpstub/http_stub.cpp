#include "http_stub.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <strings.h>

namespace glimmerly::testing {

std::string StubRequest::header(const std::string& name) const {
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const std::size_t end = head.find("\r\n", pos + 2);
        const std::string line = head.substr(pos + 2, end - pos - 2);
        const auto colon = line.find(':');
        if (colon != std::string::npos && colon == name.size() &&
            strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            std::size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            return line.substr(v);
        }
        pos = end;
    }
    return {};
}

HttpStub::HttpStub(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0)
        throw std::runtime_error("HttpStub: cannot listen on loopback");
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { Serve(); });
}

HttpStub::~HttpStub() {
    stopping_ = true;
    Release();
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    ::close(listenFd_);
    for (auto& w : workers_)
        w.join();
}

std::string HttpStub::Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::vector<StubRequest> HttpStub::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool HttpStub::WaitForRequests(std::size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= count; });
}

void HttpStub::Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

void HttpStub::Serve() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        workers_.emplace_back([this, fd] { Handle(fd); });
    }
}

void HttpStub::Handle(int fd) {
    std::string data;
    char buffer[65536];
    auto readMore = [&] {
        pollfd p{fd, POLLIN, 0};
        while (!stopping_) {
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n > 0)
                    data.append(buffer, static_cast<std::size_t>(n));
                return n > 0;
            }
        }
        return false;
    };
    // Keep-alive: answer requests on this connection until the client closes it.
    for (;;) {
        std::size_t headEnd;
        while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
            if (!readMore()) {
                ::close(fd);
                return;
            }
        }
        StubRequest request;
        request.head = data.substr(0, headEnd + 4);
        data.erase(0, headEnd + 4);
        const std::string length = request.header("Content-Length");
        const std::size_t want = length.empty() ? 0 : std::stoul(length);
        while (data.size() < want && readMore()) {
        }
        request.body = data.substr(0, want);
        data.erase(0, std::min(want, data.size()));
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            changed_.notify_all();
        }
        const std::string response = handler_(request);
        if (response.empty()) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return released_; });
            ::close(fd);
            return;
        }
        ::send(fd, response.data(), response.size(), MSG_NOSIGNAL);
        if (response.find("Connection: close") != std::string::npos) {
            ::shutdown(fd, SHUT_WR);
            while (readMore()) {
            }
            ::close(fd);
            return;
        }
    }
}

} // namespace glimmerly::testing
