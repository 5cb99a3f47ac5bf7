#include "platform/posix/capture_channel.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <future>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using glimmerly::platform::CaptureChannelServer;
using glimmerly::platform::CaptureRequestResult;
using glimmerly::platform::PeerIsOwnUser;
using glimmerly::platform::SendCaptureRequest;

namespace {

class CaptureChannel : public ::testing::Test {
protected:
    // Waits until a connection waits at the server (or the time is up).
    bool WaitReadable(const CaptureChannelServer& server, int ms = 5000) {
        pollfd p{server.Fd(), POLLIN, 0};
        return ::poll(&p, 1, ms) == 1;
    }
    // Takes requests until the client's answer is in; returns the requests counted.
    int Serve(CaptureChannelServer& server, std::future<CaptureRequestResult>& client) {
        int count = 0;
        while (client.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            if (WaitReadable(server, 50))
                count += server.TakeRequests();
        }
        return count;
    }

    glimmerly::testing::TempDir temp_{"glimmerly-channel"};
    const std::string path_ = temp_.Path("glimmerly-capture");
};

TEST_F(CaptureChannel, RequestsOfTheOwnUserAreTakenOneEach) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    struct stat st {};
    ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << "others may connect";

    for (int round = 0; round < 2; ++round) {
        auto client =
            std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0); });
        EXPECT_EQ(Serve(*server, client), 1);
        EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
    }
    server.reset();
    EXPECT_NE(::lstat(path_.c_str(), &st), 0) << "the socket file stays after the end";
}

TEST_F(CaptureChannel, RequestsWaitingWhileBusyAreDroppedNotKept) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    auto client = std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0); });
    ASSERT_TRUE(WaitReadable(*server));
    server->DropPending();
    EXPECT_EQ(client.get(), CaptureRequestResult::Dropped);
    EXPECT_EQ(server->TakeRequests(), 0);
}

TEST_F(CaptureChannel, AnythingButACaptureRequestCountsNothing) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::write(fd, "capturex\n", 9), 9);
    ASSERT_TRUE(WaitReadable(*server));
    EXPECT_EQ(server->TakeRequests(), 0);
    ::close(fd);
    // A client that connects and says nothing costs at most the read timeout.
    const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(server->TakeRequests(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ::close(silent);
}

TEST_F(CaptureChannel, NoListenerAndAStaleSocketFile) {
    EXPECT_EQ(SendCaptureRequest(path_, 100), CaptureRequestResult::NoListener);
    // A socket file left by a copy that was killed: nobody listens, and a new copy replaces it.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    EXPECT_EQ(SendCaptureRequest(path_, 100), CaptureRequestResult::NoListener);
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    auto client = std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0); });
    EXPECT_EQ(Serve(*server, client), 1);
    EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
    // A path too long for a socket address is refused, not cut short.
    EXPECT_EQ(CaptureChannelServer::Listen("/tmp/" + std::string(200, 'x')), nullptr);
}

TEST_F(CaptureChannel, PeerCredentialsOfTheOwnUser) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_TRUE(PeerIsOwnUser(pair[0]));
    ::close(pair[0]);
    ::close(pair[1]);
    EXPECT_FALSE(PeerIsOwnUser(-1));
}

// The credential check itself: the socket is opened to everyone here (the real one is 0600 in a
// private folder), and a process of another user is still refused.
TEST_F(CaptureChannel, AnotherUsersProcessIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a process as another user";
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(::chmod(temp_.Root().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(path_.c_str(), 0666), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        ::_exit(static_cast<int>(SendCaptureRequest(path_, 0)));
    }
    int taken = 0;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        pollfd p{server->Fd(), POLLIN, 0};
        if (::poll(&p, 1, 100) == 1)
            taken += server->TakeRequests();
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(CaptureRequestResult::Refused));
    EXPECT_EQ(taken, 0);
}

} // namespace
