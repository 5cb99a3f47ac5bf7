#include "platform/posix/capture_channel.h"

#include "platform/posix/posix_files.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace glimmerly::platform {

namespace {

constexpr const char* kSocketName = "glimmerly-capture";
constexpr std::string_view kRequest = "capture\n";
// A client of our own user has written its request before it waits for the answer; this only
// bounds how long a stalled one can hold the window thread.
constexpr int kReadTimeoutMs = 500;

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
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

bool IsPrivateFolder(const char* path) {
    struct stat st {};
    return path != nullptr && path[0] == '/' && ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

} // namespace

std::string CaptureChannelPath() {
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); IsPrivateFolder(runtime)) {
        folder = runtime;
    } else {
        try {
            folder = PosixFiles().TempDir();
        } catch (const std::runtime_error&) {
            return {};
        }
    }
    if (folder.empty())
        return {};
    if (folder.back() != '/')
        folder += '/';
    return folder + kSocketName;
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

std::unique_ptr<CaptureChannelServer> CaptureChannelServer::Listen(const std::string& path) {
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
    return std::unique_ptr<CaptureChannelServer>(new CaptureChannelServer(fd, path));
}

CaptureChannelServer::~CaptureChannelServer() {
    ::close(fd_);
    ::unlink(path_.c_str());
}

template <typename Answer> void CaptureChannelServer::Drain(Answer answer) {
    for (;;) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN: nothing more waits
        }
        SetTimeouts(client, kReadTimeoutMs);
        if (!PeerIsOwnUser(client)) {
            WriteAll(client, "refused\n");
        } else {
            answer(client, ReadLine(client, kRequest.size()) == kRequest);
        }
        ::close(client);
    }
}

int CaptureChannelServer::TakeRequests() {
    int count = 0;
    Drain([&count](int client, bool isCapture) {
        if (isCapture)
            ++count;
        WriteAll(client, isCapture ? "ok\n" : "?\n");
    });
    return count;
}

void CaptureChannelServer::DropPending() {
    Drain([](int client, bool) { WriteAll(client, "busy\n"); });
}

CaptureRequestResult SendCaptureRequest(const std::string& path, int connectWaitMs) {
    sockaddr_un address{};
    if (!FillAddress(path, address))
        return CaptureRequestResult::NoListener;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(connectWaitMs);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return CaptureRequestResult::NoListener;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            // The running copy answers from its window thread, which a capture may hold a while.
            SetTimeouts(fd, 10000);
            WriteAll(fd, kRequest);
            const std::string answer = ReadLine(fd, 16);
            ::close(fd);
            if (answer == "ok\n")
                return CaptureRequestResult::Taken;
            if (answer == "busy\n")
                return CaptureRequestResult::Dropped;
            return CaptureRequestResult::Refused;
        }
        ::close(fd);
        if (std::chrono::steady_clock::now() >= deadline)
            return CaptureRequestResult::NoListener;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace glimmerly::platform
