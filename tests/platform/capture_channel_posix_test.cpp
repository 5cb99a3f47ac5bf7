// The capture channel on POSIX: the socket file, the peer's credentials and a copy of the program
// from before activation tokens.

#include "platform/capture_channel.h"
#include "platform/posix/peer_user.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using glimmerly::platform::CaptureChannelServer;
using glimmerly::platform::CaptureRequest;
using glimmerly::platform::CaptureRequestResult;
using glimmerly::platform::PeerIsOwnUser;
using glimmerly::platform::SendCaptureRequest;

namespace {

class PosixCaptureChannel : public ::testing::Test {
protected:
    // Takes requests and answers each with "ok" until the client's answer is in; returns how
    // many were taken.
    std::size_t Serve(CaptureChannelServer& server, std::future<CaptureRequestResult>& client) {
        std::size_t taken = 0;
        while (client.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            pollfd p{static_cast<int>(server.Wake().native), POLLIN, 0};
            if (::poll(&p, 1, 50) != 1)
                continue;
            for (CaptureRequest& request : server.TakeRequests()) {
                ++taken;
                request.Answer(true);
            }
        }
        return taken;
    }

    glimmerly::testing::TempDir temp_{"glimmerly-channel"};
    const std::string path_ = temp_.Path("glimmerly-capture");
};

TEST_F(PosixCaptureChannel, TheSocketIsTheOwnersAloneAndGoesWithTheServer) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    struct stat st {};
    ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << "others may connect";
    server.reset();
    EXPECT_NE(::lstat(path_.c_str(), &st), 0) << "the socket file stays after the end";
}

TEST_F(PosixCaptureChannel, ACopyFromBeforeTokensIsAskedAgainWithoutOne) {
    // The old server read at most "capture\n" and answered anything else with "?".
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    std::vector<std::string> heard;
    std::thread old([&] {
        for (int i = 0; i < 2; ++i) {
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0)
                break;
            std::string line(8, '\0');
            line.resize(static_cast<std::size_t>(
                std::max<ssize_t>(::recv(fd, line.data(), 8, MSG_WAITALL), 0)));
            heard.push_back(line);
            const std::string answer = line == "capture\n" ? "ok\n" : "?\n";
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(fd);
            if (line == "capture\n")
                break;
        }
    });
    EXPECT_EQ(SendCaptureRequest(path_, 0, "token"), CaptureRequestResult::Taken);
    ::shutdown(listener, SHUT_RDWR); // a stand-in still waiting for the second request ends
    old.join();
    ::close(listener);
    EXPECT_EQ(heard, (std::vector<std::string>{"capture ", "capture\n"}));
}

TEST_F(PosixCaptureChannel, NoListenerAndAStaleSocketFile) {
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
    EXPECT_EQ(Serve(*server, client), 1u);
    EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
    // A path too long for a socket address is refused, not cut short.
    EXPECT_EQ(CaptureChannelServer::Listen("/tmp/" + std::string(200, 'x')), nullptr);
}

TEST_F(PosixCaptureChannel, PeerCredentialsOfTheOwnUser) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_TRUE(PeerIsOwnUser(pair[0]));
    ::close(pair[0]);
    ::close(pair[1]);
    EXPECT_FALSE(PeerIsOwnUser(-1));
}

// The credential check itself: the socket is opened to everyone here (the real one is 0600 in a
// private folder), and a process of another user is still refused.
TEST_F(PosixCaptureChannel, AnotherUsersProcessIsRefused) {
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
    std::size_t taken = 0;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        pollfd p{static_cast<int>(server->Wake().native), POLLIN, 0};
        if (::poll(&p, 1, 100) == 1)
            taken += server->TakeRequests().size();
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(CaptureRequestResult::Refused));
    EXPECT_EQ(taken, 0u);
}

} // namespace
