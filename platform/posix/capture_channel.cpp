// The capture channel on POSIX: a Unix stream socket in the program's private folder, read by a
// thread of its own, which wakes the window thread through a pipe.
#include "platform/capture_channel.h"

#include "platform/posix/peer_user.h"
#include "platform/posix/posix_files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace glimmerly::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSocketName = "glimmerly-capture";
constexpr std::size_t kMaxLine = kMaxCaptureRequestLine;

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Blocking writes for the client; the server's answers are a few bytes into an empty buffer.
void WriteAll(int fd, std::string_view text, int flags = 0) {
    while (!text.empty()) {
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | flags);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void AnswerAndClose(int fd, std::string_view answer) {
    WriteAll(fd, answer, MSG_DONTWAIT);
    ::close(fd);
}

void CloseAll(std::initializer_list<int> fds) {
    for (int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

// Reads up to one line (at most `limit` bytes); what came before a timeout or the end.
std::string ReadLine(int fd, std::size_t limit) {
    std::string line;
    char c = 0;
    while (line.size() < limit) {
        const ssize_t n = ::recv(fd, &c, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line += c;
        if (c == '\n')
            break;
    }
    return line;
}

void SetTimeouts(int fd, int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// A client being read: what it sent so far and until when it may send the rest.
struct Reading {
    int fd;
    std::string line;
    Clock::time_point deadline;
};

enum class Progress { More, Line, Gone };

// Takes what the client has sent without waiting for more.
Progress ReadAvailable(Reading& client) {
    char buffer[kMaxLine];
    for (;;) {
        const ssize_t n = ::recv(client.fd, buffer, kMaxLine - client.line.size(), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Progress::More;
        if (n <= 0)
            return Progress::Gone;
        client.line.append(buffer, static_cast<std::size_t>(n));
        if (const auto end = client.line.find('\n'); end != std::string::npos) {
            client.line.resize(end + 1);
            return Progress::Line;
        }
        if (client.line.size() >= kMaxLine)
            return Progress::Line; // too long for a request: judged as it is
    }
}

} // namespace

std::string CaptureChannelPath() {
    try {
        return ProgramFolder(PrivatePlaces::FromEnvironment()) + "/" + kSocketName;
    } catch (const std::runtime_error&) {
        return {};
    }
}

bool PeerIsOwnUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials) {
        return false;
    }
    return credentials.uid == ::geteuid();
}

// ---- CaptureRequest ----

void CaptureRequest::AnswerAndClose(std::intptr_t connection, std::string_view answer) {
    platform::AnswerAndClose(static_cast<int>(connection), answer);
}

// ---- CaptureChannelServer ----

struct CaptureChannelServer::Reader {
    Reader(int listener, std::string path, int deadlineMs)
        : listener(listener), path(std::move(path)), deadlineMs(deadlineMs) {
        if (::pipe2(ready, O_CLOEXEC | O_NONBLOCK) != 0)
            ready[0] = ready[1] = -1;
        if (::pipe2(stop, O_CLOEXEC) != 0)
            stop[0] = stop[1] = -1;
    }
    ~Reader() {
        ::close(listener);
        ::unlink(path.c_str());
        CloseAll({ready[0], ready[1], stop[0]});
    }
    // Ends the reader thread.
    void Stop() {
        if (stop[1] >= 0)
            ::close(stop[1]);
        stop[1] = -1;
        if (thread.joinable())
            thread.join();
    }
    void ReadClients(CaptureChannelServer& server);

    int listener;
    std::string path;
    int deadlineMs;
    int ready[2] = {-1, -1}; // readable end for the window thread, written by the reader
    int stop[2] = {-1, -1};  // closing the write end ends the reader
    std::thread thread;
};

std::unique_ptr<CaptureChannelServer> CaptureChannelServer::Listen(const std::string& path,
                                                                   int requestDeadlineMs) {
    sockaddr_un address{};
    if (!FillAddress(path, address))
        return nullptr;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        ::unlink(path.c_str());
    // Only the owner may connect; the credential check below holds even where the folder is not
    // private.
    const mode_t old = ::umask(077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(old);
    if (!bound || ::listen(fd, 16) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<CaptureChannelServer> server(new CaptureChannelServer);
    server->reader_ = std::make_unique<Reader>(fd, path, requestDeadlineMs);
    Reader& reader = *server->reader_;
    if (reader.ready[0] < 0 || reader.stop[0] < 0)
        return nullptr;
    reader.thread = std::thread([&reader, s = server.get()] { reader.ReadClients(*s); });
    return server;
}

CaptureChannelServer::~CaptureChannelServer() {
    if (reader_)
        reader_->Stop();
    requests_.clear(); // answered "busy"
    reader_.reset();
}

WakeHandle CaptureChannelServer::Wake() const {
    return {reader_->ready[0]};
}

void CaptureChannelServer::SetWake() {
    const char one = 1;
    [[maybe_unused]] const ssize_t n = ::write(reader_->ready[1], &one, 1);
}

void CaptureChannelServer::ClearWake() {
    char drain[64];
    while (::read(reader_->ready[0], drain, sizeof drain) > 0) {
    }
}

void CaptureChannelServer::Reader::ReadClients(CaptureChannelServer& server) {
    std::vector<Reading> reading;
    std::vector<pollfd> watched;
    for (;;) {
        watched.assign({{stop[0], POLLIN, 0}, {listener, POLLIN, 0}});
        int timeoutMs = -1;
        const Clock::time_point now = Clock::now();
        for (const Reading& client : reading) {
            watched.push_back({client.fd, POLLIN, 0});
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(client.deadline - now).count();
            const int ms = static_cast<int>(std::max<decltype(left)>(left, 0));
            timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
        }
        if (::poll(watched.data(), watched.size(), timeoutMs) < 0 && errno != EINTR)
            break;
        if (watched[0].revents != 0)
            break; // the server is being destroyed
        const Clock::time_point after = Clock::now();
        std::vector<Reading> still;
        for (std::size_t i = 0; i < reading.size(); ++i) {
            Reading& client = reading[i];
            const Progress progress =
                watched[i + 2].revents != 0 ? ReadAvailable(client) : Progress::More;
            if (progress == Progress::Gone) {
                ::close(client.fd);
            } else if (progress == Progress::Line) {
                if (std::optional<std::string> token = ParseCaptureRequest(client.line))
                    server.Deliver(CaptureRequest(client.fd, std::move(*token)));
                else
                    platform::AnswerAndClose(client.fd, "?\n");
            } else if (after >= client.deadline) {
                platform::AnswerAndClose(client.fd, "busy\n"); // not read in time: dropped
            } else {
                still.push_back(std::move(client));
            }
        }
        reading = std::move(still);
        if (watched[1].revents == 0)
            continue;
        for (;;) {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                break; // EAGAIN: nothing more waits
            }
            if (!PeerIsOwnUser(client))
                platform::AnswerAndClose(client, "refused\n");
            else if (reading.size() >= kMaxReading)
                platform::AnswerAndClose(client, "busy\n");
            else
                reading.push_back({client, {}, after + std::chrono::milliseconds(deadlineMs)});
        }
    }
    for (const Reading& client : reading)
        ::close(client.fd);
}

CaptureRequestResult SendCaptureRequest(const std::string& path, int connectWaitMs,
                                        const std::string& activationToken) {
    sockaddr_un address{};
    if (!FillAddress(path, address))
        return CaptureRequestResult::NoListener;
    const bool withToken = IsActivationToken(activationToken);
    const std::string request = CaptureRequestLine(activationToken);
    const auto deadline = Clock::now() + std::chrono::milliseconds(connectWaitMs);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return CaptureRequestResult::NoListener;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            // The running copy answers from its window thread, which a capture may hold a while.
            SetTimeouts(fd, 10000);
            WriteAll(fd, request);
            const std::string answer = ReadLine(fd, 16);
            ::close(fd);
            if (answer == kCaptureAnswerUnknown && withToken)
                return SendCaptureRequest(path, 0); // a copy from before tokens
            return CaptureAnswerResult(answer);
        }
        ::close(fd);
        if (Clock::now() >= deadline)
            return CaptureRequestResult::NoListener;
        ::usleep(50 * 1000);
    }
}

} // namespace glimmerly::platform
