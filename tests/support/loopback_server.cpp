#include "tests/support/loopback_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <memory>
#include <stdexcept>

namespace glimmerly::testing {

namespace {

// The few calls that differ between POSIX sockets and Windows Sockets.
#ifdef _WIN32
constexpr int kNoSignal = 0;
constexpr int kShutWrite = SD_SEND;
constexpr int kShutBoth = SD_BOTH;

SOCKET Native(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) {
        throw std::runtime_error("LoopbackServer: Windows Sockets did not start");
    }
}

void CloseSocket(SocketHandle s) {
    ::closesocket(Native(s));
}

// Whether the socket has something to read (or its peer closed) within ms.
int Readable(SocketHandle s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Native(s), &set);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &wait);
}

bool SameName(std::string_view a, std::string_view b) {
    return ::_strnicmp(a.data(), b.data(), b.size()) == 0;
}

SocketHandle NewSocket() {
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

SocketHandle AcceptOne(SocketHandle listening) {
    return ::accept(Native(listening), nullptr, nullptr);
}
#else
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutWrite = SHUT_WR;
constexpr int kShutBoth = SHUT_RDWR;

int Native(SocketHandle s) {
    return s;
}

void StartSockets() {}

void CloseSocket(SocketHandle s) {
    ::close(s);
}

int Readable(SocketHandle s, int ms) {
    pollfd p{s, POLLIN, 0};
    const int r = ::poll(&p, 1, ms);
    return r < 0 && errno == EINTR ? 0 : r;
}

bool SameName(std::string_view a, std::string_view b) {
    return ::strncasecmp(a.data(), b.data(), b.size()) == 0;
}

SocketHandle NewSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

SocketHandle AcceptOne(SocketHandle listening) {
    return ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
}
#endif

SocketHandle ListenOnLoopback(int receiveBuffer, int& port) {
    StartSockets();
    const SocketHandle fd = NewSocket();
    if (fd == kNoSocketHandle) {
        throw std::runtime_error("LoopbackServer: socket failed");
    }
#ifndef _WIN32
    // On Windows this would let a second listener share the port.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    if (receiveBuffer > 0) {
        // Set before listen(), so the accepted sockets start with it.
        ::setsockopt(Native(fd), SOL_SOCKET, SO_RCVBUF,
                     reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(Native(fd), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(Native(fd), 16) != 0) {
        CloseSocket(fd);
        throw std::runtime_error("LoopbackServer: cannot listen on loopback");
    }
    socklen_t length = sizeof address;
    ::getsockname(Native(fd), reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

std::size_t ContentLength(const RecordedRequest& request) {
    const std::string value = request.Header("Content-Length");
    return value.empty() ? 0 : std::stoull(value);
}

LoopbackServer::Script Serve(LoopbackServer::Handler handler) {
    return [handler = std::move(handler)](ServerConnection& c) {
        for (;;) {
            const RecordedRequest request = c.NextRequest();
            if (request.head.empty()) {
                return;
            }
            const std::string response = handler(request);
            if (response.empty()) {
                c.Stall();
                return;
            }
            c.Send(response);
            if (response.find("Connection: close") != std::string::npos) {
                c.CloseGently();
                return;
            }
        }
    };
}

} // namespace

std::string RecordedRequest::Header(std::string_view name) const {
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const std::size_t end = head.find("\r\n", pos + 2);
        const std::string_view line = std::string_view(head).substr(pos + 2, end - pos - 2);
        if (line.size() > name.size() && line[name.size()] == ':' && SameName(line, name)) {
            const std::size_t value = line.find_first_not_of(' ', name.size() + 1);
            return value == std::string_view::npos ? std::string()
                                                   : std::string(line.substr(value));
        }
        pos = end;
    }
    return {};
}

bool ServerConnection::Fill() {
    while (!server_.Stopping()) {
        const int r = Readable(fd_, 20);
        if (r < 0) {
            return false;
        }
        if (r > 0) {
            char chunk[65536];
            const auto got = ::recv(Native(fd_), chunk, sizeof chunk, 0);
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

RecordedRequest ServerConnection::NextRequest() {
    RecordedRequest request;
    request.connection = index_;
    request.head = ReadHead();
    if (request.head.empty()) {
        return request;
    }
    const std::size_t length = ContentLength(request);
    while (buffer_.size() < length) {
        if (!Fill()) {
            return RecordedRequest{};
        }
    }
    request.body = buffer_.substr(0, length);
    buffer_.erase(0, length);
    server_.Record(request);
    return request;
}

void ServerConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto sent = ::send(Native(fd_), bytes.data(), int(bytes.size()), kNoSignal);
        if (sent <= 0) {
            return;
        }
        bytes.remove_prefix(std::size_t(sent));
    }
}

bool ServerConnection::WaitForClientClose(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !server_.Stopping()) {
        if (Readable(fd_, 20) > 0) {
            char c;
            return ::recv(Native(fd_), &c, 1, MSG_PEEK) <= 0;
        }
    }
    return false;
}

void ServerConnection::Stall(int ms) {
    server_.WaitForRelease(ms);
}

void ServerConnection::CloseGently() {
    ::shutdown(Native(fd_), kShutWrite);
    while (Fill()) {
        buffer_.clear();
    }
    Close();
}

void ServerConnection::Close() {
    if (fd_ != kNoSocketHandle) {
        {
            std::lock_guard lock(server_.mutex_);
            server_.open_.erase(fd_);
        }
        CloseSocket(fd_);
        fd_ = kNoSocketHandle;
    }
}

LoopbackServer::LoopbackServer(Script script, int receiveBuffer) : script_(std::move(script)) {
    listenFd_ = ListenOnLoopback(receiveBuffer, port_);
    acceptor_ = std::thread([this] { Accept(); });
}

LoopbackServer::LoopbackServer(Handler handler) : LoopbackServer(Serve(std::move(handler))) {}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    Release();
    acceptor_.join();
    {
        // Unblocks a script stuck in send() to a client that stopped reading.
        std::lock_guard lock(mutex_);
        for (const SocketHandle fd : open_) {
            ::shutdown(Native(fd), kShutBoth);
        }
    }
    for (auto& worker : workers_) {
        worker.join();
    }
    CloseSocket(listenFd_);
}

std::string LoopbackServer::Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void LoopbackServer::Accept() {
    while (!stop_) {
        if (Readable(listenFd_, 20) <= 0) {
            continue;
        }
        const SocketHandle fd = AcceptOne(listenFd_);
        if (fd == kNoSocketHandle) {
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            open_.insert(fd);
        }
        const int index = connections_++;
        workers_.emplace_back([this, fd, index] {
            ServerConnection connection(*this, fd, index);
            script_(connection);
            connection.Close();
        });
    }
}

void LoopbackServer::Record(RecordedRequest request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
    changed_.notify_all();
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> LoopbackServer::RequestBytes() const {
    std::vector<std::string> out;
    for (const RecordedRequest& r : Requests()) {
        out.push_back(r.Bytes());
    }
    return out;
}

std::vector<int> LoopbackServer::RequestConnections() const {
    std::vector<int> out;
    for (const RecordedRequest& r : Requests()) {
        out.push_back(r.connection);
    }
    return out;
}

bool LoopbackServer::WaitForRequests(std::size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= count; });
}

void LoopbackServer::Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

void LoopbackServer::WaitForRelease(int ms) {
    std::unique_lock lock(mutex_);
    const auto done = [&] { return released_ || stop_; };
    if (ms < 0) {
        changed_.wait(lock, done);
    } else {
        changed_.wait_for(lock, std::chrono::milliseconds(ms), done);
    }
}

LoopbackServer::Script Answer(std::vector<std::string> responses) {
    struct Queue {
        std::mutex mutex;
        std::vector<std::string> responses;
        std::size_t next = 0;
    };
    auto queue = std::make_shared<Queue>();
    queue->responses = std::move(responses);
    return [queue](ServerConnection& connection) {
        for (;;) {
            {
                std::lock_guard lock(queue->mutex);
                if (queue->next == queue->responses.size()) {
                    return;
                }
            }
            if (connection.ReadRequest().empty()) {
                return;
            }
            std::string response;
            {
                std::lock_guard lock(queue->mutex);
                if (queue->next == queue->responses.size()) {
                    return;
                }
                response = queue->responses[queue->next++];
            }
            connection.Send(response);
            if (response.find("Connection: close") != std::string::npos) {
                return;
            }
        }
    };
}

int UnusedPort() {
    int port = 0;
    CloseSocket(ListenOnLoopback(0, port));
    return port;
}

SocketHandle ConnectToLoopback(int port) {
    StartSockets();
    const SocketHandle fd = NewSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd == kNoSocketHandle ||
        ::connect(Native(fd), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("ConnectToLoopback: no connection");
    }
    return fd;
}

void ServerConnection::Reset() {
    linger abort{};
    abort.l_onoff = 1;
    abort.l_linger = 0;
    ::setsockopt(Native(fd_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                 sizeof abort);
    Close();
}

} // namespace glimmerly::testing
