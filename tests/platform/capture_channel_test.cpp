#include "platform/posix/capture_channel.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unix_client.h"

#include <gtest/gtest.h>

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
using glimmerly::platform::IsActivationToken;
using glimmerly::platform::PeerIsOwnUser;
using glimmerly::platform::SendCaptureRequest;

namespace {

using glimmerly::testing::ConnectRaw;
using glimmerly::testing::StillWaiting;

// What the server said before it closed (waits for the close, or ten seconds at most).
std::string AnswerTo(int fd) {
    std::string answer;
    char buffer[64];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 10000) == 1) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer;
}

class CaptureChannel : public ::testing::Test {
protected:
    // Waits until a connection waits at the server (or the time is up).
    bool WaitReadable(const CaptureChannelServer& server, int ms = 5000) {
        pollfd p{server.Fd(), POLLIN, 0};
        return ::poll(&p, 1, ms) == 1;
    }
    // Takes requests and answers each with `take` until the client's answer is in; returns
    // the tokens of the requests taken.
    std::vector<std::string> Serve(CaptureChannelServer& server,
                                   std::future<CaptureRequestResult>& client, bool take = true) {
        std::vector<std::string> tokens;
        while (client.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            if (!WaitReadable(server, 50))
                continue;
            for (CaptureRequest& request : server.TakeRequests()) {
                tokens.push_back(request.ActivationToken());
                request.Answer(take);
            }
        }
        return tokens;
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
        EXPECT_EQ(Serve(*server, client), std::vector<std::string>{""});
        EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
    }
    // A request that is decided against is answered "busy", not "ok".
    auto refused = std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0); });
    EXPECT_EQ(Serve(*server, refused, false).size(), 1u);
    EXPECT_EQ(refused.get(), CaptureRequestResult::Dropped);
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
    EXPECT_TRUE(server->TakeRequests().empty());
}

TEST_F(CaptureChannel, ATokenTravelsWithTheRequestAndOnlyAToken) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    const std::string token = "sway/1234_TIME5678-abcdef";
    auto client =
        std::async(std::launch::async, [&] { return SendCaptureRequest(path_, 0, token); });
    EXPECT_EQ(Serve(*server, client), std::vector<std::string>{token});
    EXPECT_EQ(client.get(), CaptureRequestResult::Taken);

    // Blanks, control characters and lengths beyond 255 are no tokens: a request is sent
    // without them, and a raw one carrying them is no request.
    EXPECT_TRUE(IsActivationToken(std::string(255, 'x')));
    for (const std::string& bad :
         {std::string(), std::string(256, 'x'), std::string("a b"), std::string("a\tb"),
          std::string("\x7f"), std::string("\xc3\xa4")}) {
        EXPECT_FALSE(IsActivationToken(bad)) << bad;
    }
    auto plain =
        std::async(std::launch::async, [&] { return SendCaptureRequest(path_, 0, "a b"); });
    EXPECT_EQ(Serve(*server, plain), std::vector<std::string>{""});
    EXPECT_EQ(plain.get(), CaptureRequestResult::Taken);
    for (const std::string& raw :
         std::vector<std::string>{"capture \n", "capture a b\n", "capture  x\n",
                                  "capture " + std::string(256, 'x') + "\n"}) {
        const int fd = ConnectRaw(path_);
        ASSERT_EQ(::write(fd, raw.data(), raw.size()), static_cast<ssize_t>(raw.size()));
        EXPECT_EQ(AnswerTo(fd), "?\n") << raw;
    }
    EXPECT_TRUE(server->TakeRequests().empty());
}

TEST_F(CaptureChannel, ACopyFromBeforeTokensIsAskedAgainWithoutOne) {
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

TEST_F(CaptureChannel, AnythingButACaptureRequestCountsNothing) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    const int fd = ConnectRaw(path_);
    ASSERT_EQ(::write(fd, "capturex\n", 9), 9);
    EXPECT_EQ(AnswerTo(fd), "?\n");
    const int gone = ConnectRaw(path_);
    ASSERT_EQ(::write(gone, "capt", 4), 4);
    ::close(gone);
    EXPECT_TRUE(server->TakeRequests().empty());
}

// Ten clients that connect and say nothing and one that trickles its request: a request made
// after them is taken while every one of them still waits.
TEST_F(CaptureChannel, StalledClientsDoNotHoldUpARequest) {
    auto server = CaptureChannelServer::Listen(path_, 60000);
    ASSERT_NE(server, nullptr);
    std::vector<int> stalled;
    for (int i = 0; i < 10; ++i)
        stalled.push_back(ConnectRaw(path_));
    const int trickler = ConnectRaw(path_);
    ASSERT_EQ(::write(trickler, "c", 1), 1);
    stalled.push_back(trickler);
    auto client = std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0); });
    EXPECT_EQ(Serve(*server, client).size(), 1u);
    EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
    for (int fd : stalled) {
        EXPECT_TRUE(StillWaiting(fd)) << "a stalled client was read to its end first";
        ::close(fd);
    }
}

// Each client has one deadline for its whole request: a trickler that would finish after it is
// dropped with "busy" and never counted, however steadily it sends.
TEST_F(CaptureChannel, AClientPastItsDeadlineIsDroppedWithBusy) {
    auto server = CaptureChannelServer::Listen(path_, 200);
    ASSERT_NE(server, nullptr);
    const int silent = ConnectRaw(path_);
    const int trickler = ConnectRaw(path_);
    bool cut = false;
    for (char c : std::string("capture\n")) {
        if (::send(trickler, &c, 1, MSG_NOSIGNAL) != 1) {
            cut = true;
            break;
        }
        ::usleep(60 * 1000);
    }
    EXPECT_EQ(AnswerTo(silent), "busy\n");
    (void)cut; // the server may have closed before the last bytes
    EXPECT_EQ(AnswerTo(trickler), "busy\n");
    EXPECT_TRUE(server->TakeRequests().empty());
}

// More clients than are read at one time: the ones beyond are told "busy" at once.
TEST_F(CaptureChannel, ClientsBeyondTheReadingLimitAreBusyAtOnce) {
    auto server = CaptureChannelServer::Listen(path_, 60000);
    ASSERT_NE(server, nullptr);
    std::vector<int> clients;
    for (std::size_t i = 0; i < CaptureChannelServer::kMaxReading + 3; ++i)
        clients.push_back(ConnectRaw(path_));
    int busy = 0;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        pollfd p{clients[i], POLLIN, 0};
        if (i >= CaptureChannelServer::kMaxReading) {
            ASSERT_EQ(::poll(&p, 1, 10000), 1);
        }
        if (::poll(&p, 1, 0) == 1 && AnswerTo(clients[i]) == "busy\n") {
            ++busy;
            clients[i] = -1;
        }
    }
    EXPECT_EQ(busy, 3);
    for (int fd : clients) {
        if (fd >= 0)
            ::close(fd);
    }
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
    EXPECT_EQ(Serve(*server, client).size(), 1u);
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
    std::size_t taken = 0;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        pollfd p{server->Fd(), POLLIN, 0};
        if (::poll(&p, 1, 100) == 1)
            taken += server->TakeRequests().size();
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(CaptureRequestResult::Refused));
    EXPECT_EQ(taken, 0u);
}

} // namespace
