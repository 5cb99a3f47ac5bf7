// Bodies: an upload's body has a total deadline however it trickles, the service host takes no
// body at all, and behind a balancer speaking the PROXY protocol the per-address limit counts
// the real clients.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/harness.h"
#include "tests/service/raw_client.h"

namespace glimmerly::service::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(ServiceSlowBodyTest, TricklingBodyIsCutAtItsDeadlineWhileAQuickOneIsServed) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data", {"--body-timeout", "1.5"});
    ASSERT_TRUE(service.ok());
    const std::uint16_t port = service.uploadPort();

    // Announces 60 MB (under the refused size) and sends a byte every 100 ms: never idle.
    int slow = ConnectFrom("127.0.0.1", port);
    ASSERT_GE(slow, 0);
    ASSERT_TRUE(SendAll(slow,
                        "POST /upload.php HTTP/1.0\r\nHost: localhost\r\nContent-Type: "
                        "multipart/form-data; boundary=x\r\nContent-Length: 60000000\r\n\r\n"));
    auto start = Clock::now();
    bool cut = false;
    while (!cut && Clock::now() - start < 20s) {
        std::this_thread::sleep_for(100ms);
        cut = !SendAll(slow, "x") || ClosedByServer(slow);
    }
    EXPECT_TRUE(cut) << "a body trickling for 20 s was not cut";
    ::close(slow);

    // A whole upload in a few pieces inside the deadline is answered as always.
    UploadFields fields;
    fields.screenshotName = "In Stuecken";
    std::string request = UploadRequest(UploadBody(MakeJpeg(120, 90, 4), fields), port);
    int quick = ConnectFrom("127.0.0.1", port);
    ASSERT_GE(quick, 0);
    std::size_t piece = request.size() / 4 + 1;
    for (std::size_t at = 0; at < request.size(); at += piece) {
        ASSERT_TRUE(SendAll(quick, std::string_view(request).substr(at, piece)));
        std::this_thread::sleep_for(100ms);
    }
    std::string reply = ReadReply(quick);
    ::close(quick);
    EXPECT_EQ(NameFromReply(reply), "in_stuecken") << reply;
}

TEST(ServiceSlowBodyTest, ServiceHostRefusesABodyBeforeReadingIt) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data");
    ASSERT_TRUE(service.ok());
    const std::uint16_t port = service.servicePort();
    struct Case {
        const char* head;
        const char* status;
    };
    for (const Case& c : {
             Case{"POST /loginsession.php?sessionname=Demo HTTP/1.1\r\nContent-Length: "
                  "60000000\r\n",
                  "HTTP/1.1 405"},
             Case{"GET /loginsession.php?sessionname=Demo HTTP/1.1\r\nContent-Length: "
                  "60000000\r\n",
                  "HTTP/1.1 413"},
             Case{"GET /loginsession.php?sessionname=Demo HTTP/1.1\r\nTransfer-Encoding: "
                  "chunked\r\n",
                  "HTTP/1.1 413"},
             Case{"GET /loginsession.php?sessionname=Demo HTTP/1.1\r\nContent-Length: 1\r\n",
                  "HTTP/1.1 413"},
         }) {
        int fd = ConnectFrom("127.0.0.1", port);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, std::string(c.head) + "Host: localhost\r\n\r\nabc"));
        std::string head;
        ReadReply(fd, 5000, &head);
        EXPECT_EQ(head.substr(0, 12), c.status) << c.head << head;
        EXPECT_NE(head.find("Connection: close"), std::string::npos) << head;
        EXPECT_TRUE(WaitForClose(fd, 5000)) << c.head;
        ::close(fd);
    }
    // The refused requests did nothing; the client's own GET works as always, also when it
    // announces an empty body.
    EXPECT_EQ(ClientGet(port, "/loginsession.php?sessionname=Demo").body, "ok Demo");
    EXPECT_EQ(RawRequest(port, "GET /loginsession.php?sessionname=Demo HTTP/1.1\r\nHost: x\r\n"
                               "Content-Length: 0\r\nConnection: close\r\n\r\n")
                  .body,
              "ok Demo");
    EXPECT_EQ(ListedNames(ClientGet(port, "/~Demo").body).size(), 0u);
}

// An upload that announces more than 64 MiB is refused before a byte of it is read; one of
// exactly 64 MiB is read (and answered toobig once it is in).
TEST(ServiceSlowBodyTest, UploadHostRefusesAnnouncedBodiesBeyondTheLimitAtOnce) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data");
    ASSERT_TRUE(service.ok());
    auto announce = [&](const std::string& length) {
        int fd = Connect(service.uploadPort());
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(SendAll(fd, "POST /upload.php HTTP/1.1\r\nHost: x\r\nContent-Type: "
                                "multipart/form-data; boundary=" +
                                    std::string(kBoundary) + "\r\nContent-Length: " + length +
                                    "\r\n\r\n"));
        std::string head;
        ReadReply(fd, 500, &head);
        ::close(fd);
        return head.substr(0, 12);
    };
    EXPECT_EQ(announce("67108865"), "HTTP/1.1 413");
    EXPECT_EQ(announce("67108864"), "") << "waits for the body";
}

std::string ProxyLine(const std::string& client) {
    return "PROXY TCP4 " + client + " 127.0.0.1 40000 8461\r\n";
}

TEST(ServiceSlowBodyTest, BehindABalancerTheLimitCountsTheAddressesThePROXYHeaderNames) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data", {"--proxy-protocol", "--per-address-limit", "2"});
    ASSERT_TRUE(service.ok());
    const std::uint16_t port = service.uploadPort();

    // Everything comes from 127.0.0.1, as from a balancer. Two half-sent requests of one client
    // fill its limit; a third of the same client is closed at once.
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) {
        int fd = ConnectFrom("127.0.0.1", port);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, ProxyLine("203.0.113.5") + "POST /uplo"));
        held.push_back(fd);
        std::this_thread::sleep_for(100ms); // handed over in this order
    }
    EXPECT_TRUE(WaitForClose(held[2], 5000));
    EXPECT_FALSE(ClosedByServer(held[0]));
    EXPECT_FALSE(ClosedByServer(held[1]));

    // Another client through the same balancer is served, its request bytes untouched.
    UploadFields fields;
    fields.screenshotName = "Hinter dem Balancer";
    std::string jpeg = MakeJpeg(80, 60, 5);
    int other = ConnectFrom("127.0.0.1", port);
    ASSERT_GE(other, 0);
    ASSERT_TRUE(
        SendAll(other, ProxyLine("203.0.113.6") + UploadRequest(UploadBody(jpeg, fields), port)));
    EXPECT_EQ(NameFromReply(ReadReply(other)), "hinter_dem_balancer");
    ::close(other);
    EXPECT_EQ(ClientGet(service.servicePort(), "/").status, 0) << "no header: not served";

    // Version 2, as haproxy's send-proxy-v2 sends it.
    std::string v2("\r\n\r\n\0\r\nQUIT\n\x21\x11\x00\x0c", 16);
    v2 += std::string("\xc6\x33\x64\x01\x7f\x00\x00\x01\x9c\x40\x21\x0d", 12);
    HttpResponse viaV2 =
        RawRequest(service.servicePort(),
                   v2 + "GET /hinter_dem_balancer.jpg HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(viaV2.status, 200);
    EXPECT_EQ(viaV2.body, jpeg);
    for (int fd : held) {
        ::close(fd);
    }
}

// Behind a balancer the PROXY header counts as part of the request head: a connection that has
// not sent all of it by the head's deadline is closed, not handed on.
TEST(ServiceSlowBodyTest, AConnectionWithoutItsPROXYHeaderIsClosedAtTheHeadDeadline) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data", {"--proxy-protocol", "--header-timeout", "1"});
    ASSERT_TRUE(service.ok());
    int fd = ConnectFrom("127.0.0.1", service.uploadPort());
    ASSERT_GE(fd, 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(SendAll(fd, "PROXY TCP4 203.0.113.5 "));
    EXPECT_TRUE(WaitForClose(fd, 5000));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3s);
    ::close(fd);
}

} // namespace
} // namespace glimmerly::service::test
