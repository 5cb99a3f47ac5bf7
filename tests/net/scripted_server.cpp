#include "tests/net/scripted_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace glimmerly::net::testing {

namespace {

int ListenOnLoopback(int receiveBuffer, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

std::size_t ContentLength(const std::string& head) {
    std::string lower = head;
    for (char& c : lower) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) {
        return 0;
    }
    return std::stoull(lower.substr(at + 17));
}

} // namespace

bool ServerConnection::Fill() {
    while (!server_.Stopping()) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, 20);
        if (r < 0 && errno != EINTR) {
            return false;
        }
        if (r > 0) {
            char chunk[65536];
            const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return false;
            }
            buffer_.append(chunk, std::size_t(got));
            return true;
        }
    }
    return false;
}

std::string ServerConnection::ReadHead() {
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
        if (!Fill()) {
            return {};
        }
    }
    std::string head = buffer_.substr(0, end + 4);
    buffer_.erase(0, end + 4);
    return head;
}

std::string ServerConnection::ReadRequest() {
    std::string request = ReadHead();
    if (request.empty()) {
        return {};
    }
    const std::size_t length = ContentLength(request);
    while (buffer_.size() < length) {
        if (!Fill()) {
            return {};
        }
    }
    request += buffer_.substr(0, length);
    buffer_.erase(0, length);
    server_.Record(request, index_);
    return request;
}

void ServerConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        bytes.remove_prefix(std::size_t(sent));
    }
}

bool ServerConnection::WaitForClientClose(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !server_.Stopping()) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
            char c;
            if (::recv(fd_, &c, 1, MSG_PEEK) <= 0) {
                return true;
            }
            return false;
        }
    }
    return false;
}

void ServerConnection::Stall(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !server_.Stopping()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ServerConnection::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ScriptedServer::ScriptedServer(Script script, int receiveBuffer) : script_(std::move(script)) {
    listenFd_ = ListenOnLoopback(receiveBuffer, port_);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
}

std::string ScriptedServer::Url(const std::string& rest) const {
    return "http://127.0.0.1:" + std::to_string(port_) + rest;
}

void ScriptedServer::Run() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) {
            continue;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ServerConnection connection(*this, fd, connections_++);
        script_(connection);
        connection.Close();
    }
}

void ScriptedServer::Record(const std::string& request, int connection) {
    std::lock_guard guard(mutex_);
    requests_.push_back(request);
    requestConnections_.push_back(connection);
}

std::vector<std::string> ScriptedServer::Requests() const {
    std::lock_guard guard(mutex_);
    return requests_;
}

std::vector<int> ScriptedServer::RequestConnections() const {
    std::lock_guard guard(mutex_);
    return requestConnections_;
}

ScriptedServer::Script Answer(std::vector<std::string> responses) {
    auto queue = std::make_shared<std::vector<std::string>>(std::move(responses));
    auto next = std::make_shared<std::size_t>(0);
    return [queue, next](ServerConnection& connection) {
        while (*next < queue->size()) {
            if (connection.ReadRequest().empty()) {
                return;
            }
            const std::string& response = (*queue)[(*next)++];
            connection.Send(response);
            if (response.find("Connection: close") != std::string::npos) {
                return;
            }
        }
    };
}

int UnusedPort() {
    int port = 0;
    const int fd = ListenOnLoopback(0, port);
    ::close(fd);
    return port;
}

} // namespace glimmerly::net::testing
