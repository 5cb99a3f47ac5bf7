// Clients that open connections and send their requests slowly or never: they must not keep
// others out, a request head has a deadline, and a body that keeps moving may take longer.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/harness.h"
#include "tests/service/raw_client.h"

namespace glimmerly::service::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(ServiceSlowClientTest, HalfOpenConnectionsFromOneAddressKeepNobodyElseOut) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data", {"--header-timeout", "2"});
    ASSERT_TRUE(service.ok());
    const std::uint16_t port = service.uploadPort();

    // More than the daemon's 512 connections, each stuck in the middle of its request line.
    std::vector<int> stuck;
    for (int i = 0; i < 600; ++i) {
        int fd = ConnectFrom("127.0.0.1", port);
        ASSERT_GE(fd, 0);
        SendAll(fd, "POST /uplo");
        stuck.push_back(fd);
    }
    auto opened = Clock::now();

    std::string jpeg = MakeJpeg(64, 48, 3);
    std::string request = UploadRequest(UploadBody(jpeg), port);
    auto start = Clock::now();
    int other = ConnectFrom("127.0.0.2", port);
    ASSERT_GE(other, 0);
    ASSERT_TRUE(SendAll(other, request));
    std::string reply = ReadReply(other);
    ::close(other);
    EXPECT_EQ(NameFromReply(reply).size(), 8u) << reply;
    EXPECT_LT(Clock::now() - start, 2s);

    // The address over its limit got its further connections closed at once.
    std::this_thread::sleep_for(200ms);
    int open = 0;
    for (int fd : stuck) {
        open += ClosedByServer(fd) ? 0 : 1;
    }
    EXPECT_LE(open, 64);
    EXPECT_GE(open, 32);

    // Once their header deadline has passed, the stuck ones are gone and the address is served
    // again.
    std::this_thread::sleep_until(opened + 3s);
    open = 0;
    for (int fd : stuck) {
        open += ClosedByServer(fd) ? 0 : 1;
        ::close(fd);
    }
    EXPECT_EQ(open, 0);
    int again = ConnectFrom("127.0.0.1", port);
    ASSERT_GE(again, 0);
    ASSERT_TRUE(SendAll(again, request));
    EXPECT_EQ(NameFromReply(ReadReply(again)).size(), 8u);
    ::close(again);
}

TEST(ServiceSlowClientTest, RequestHeadHasADeadlineButKeptAliveConnectionsWaitLonger) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data", {"--header-timeout", "1.5"});
    ASSERT_TRUE(service.ok());
    const std::uint16_t port = service.servicePort();

    // A head trickling one byte every 200 ms never times out as idle, but is cut at 1.5 s.
    int trickle = ConnectFrom("127.0.0.1", port);
    ASSERT_GE(trickle, 0);
    auto start = Clock::now();
    std::string head = "GET /loginsession.php?sessionname=a HTTP/1.1\r\nHost: localhost\r\n"
                       "X-Padding: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
    Clock::duration cutAfter{};
    for (char c : head) {
        if (!SendAll(trickle, std::string_view(&c, 1)) || ClosedByServer(trickle)) {
            cutAfter = Clock::now() - start;
            break;
        }
        std::this_thread::sleep_for(200ms);
    }
    ::close(trickle);
    EXPECT_GT(cutAfter, 1200ms);
    EXPECT_LT(cutAfter, 3s);

    // A kept-alive connection idle for longer than the head deadline between two requests is
    // still served: the deadline counts from the start of each wait only up to the idle time-out.
    int kept = ConnectFrom("127.0.0.1", port);
    ASSERT_GE(kept, 0);
    const std::string login =
        "GET /loginsession.php?sessionname=Demo HTTP/1.1\r\nHost: localhost\r\n\r\n";
    ASSERT_TRUE(SendAll(kept, login));
    EXPECT_EQ(ReadReply(kept), "ok Demo");
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(SendAll(kept, login));
    EXPECT_EQ(ReadReply(kept), "ok Demo");
    ::close(kept);
}

TEST(ServiceSlowClientTest, SlowButMovingBodyOutlastsTheHeadDeadline) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data", {"--header-timeout", "1"});
    ASSERT_TRUE(service.ok());
    const std::uint16_t port = service.uploadPort();
    UploadFields fields;
    fields.screenshotName = "Langsam";
    std::string request = UploadRequest(UploadBody(MakeJpeg(200, 150, 9), fields), port);
    std::size_t headEnd = request.find("\r\n\r\n") + 4;

    int fd = ConnectFrom("127.0.0.1", port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, std::string_view(request).substr(0, headEnd)));
    // The body in 12 pieces over about 3 s.
    std::string_view body = std::string_view(request).substr(headEnd);
    std::size_t piece = body.size() / 12 + 1;
    auto start = Clock::now();
    for (std::size_t at = 0; at < body.size(); at += piece) {
        std::this_thread::sleep_for(250ms);
        ASSERT_TRUE(SendAll(fd, body.substr(at, piece)));
    }
    EXPECT_GT(Clock::now() - start, 2500ms);
    std::string reply = ReadReply(fd);
    ::close(fd);
    EXPECT_EQ(NameFromReply(reply), "langsam") << reply;
}

TEST(ServiceSlowClientTest, UnusableLimitsAreRefusedAtStart) {
    for (const char* args :
         {"--per-address-limit 0", "--per-address-limit -3", "--per-address-limit 12x",
          "--header-timeout 0", "--header-timeout abc", "--header-timeout -1"}) {
        std::string command = std::string(GLIMMERLY_SERVICE_BINARY) + " --data /nonexistent/x " +
                              args + " >/dev/null 2>&1";
        int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << args;
        EXPECT_EQ(WEXITSTATUS(status), 2) << args;
    }
}

} // namespace
} // namespace glimmerly::service::test
