// The capture channel between copies of the program, with real clients: what every system's
// channel does alike.

#include "platform/capture_channel.h"
#include "tests/platform/channel_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using glimmerly::platform::CaptureChannelServer;
using glimmerly::platform::CaptureRequest;
using glimmerly::platform::CaptureRequestResult;
using glimmerly::platform::IsActivationToken;
using glimmerly::platform::SendCaptureRequest;
using glimmerly::testing::RawChannelClient;
using glimmerly::testing::WaitForRequests;

namespace {

class CaptureChannel : public ::testing::Test {
protected:
    // Takes requests and answers each with `take` until the client's answer is in; returns
    // the tokens of the requests taken.
    std::vector<std::string> Serve(CaptureChannelServer& server,
                                   std::future<CaptureRequestResult>& client, bool take = true) {
        std::vector<std::string> tokens;
        while (client.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            if (!WaitForRequests(server, 50))
                continue;
            for (CaptureRequest& request : server.TakeRequests()) {
                tokens.push_back(request.ActivationToken());
                request.Answer(take);
            }
        }
        return tokens;
    }
    std::future<CaptureRequestResult> Ask(const std::string& token = {}) {
        return std::async(std::launch::async,
                          [this, token] { return SendCaptureRequest(path_, 0, token); });
    }

    glimmerly::testing::ChannelPlace place_;
    const std::string path_ = place_.Path();
};

TEST_F(CaptureChannel, RequestsAreTakenOneEachAndAnsweredAsDecided) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    for (int round = 0; round < 2; ++round) {
        auto client = Ask();
        EXPECT_EQ(Serve(*server, client), std::vector<std::string>{""});
        EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
    }
    // A request that is decided against is answered "busy", not "ok".
    auto refused = Ask();
    EXPECT_EQ(Serve(*server, refused, false).size(), 1u);
    EXPECT_EQ(refused.get(), CaptureRequestResult::Dropped);
    // Nobody listens once the server is gone.
    server.reset();
    EXPECT_EQ(SendCaptureRequest(path_, 100), CaptureRequestResult::NoListener);
}

TEST_F(CaptureChannel, RequestsWaitingWhileBusyAreDroppedNotKept) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    auto client = Ask();
    ASSERT_TRUE(WaitForRequests(*server, 5000));
    server->DropPending();
    EXPECT_EQ(client.get(), CaptureRequestResult::Dropped);
    EXPECT_TRUE(server->TakeRequests().empty());
    EXPECT_FALSE(WaitForRequests(*server, 0)) << "still signalled with nothing waiting";
}

TEST_F(CaptureChannel, ATokenTravelsWithTheRequestAndOnlyAToken) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    const std::string token = "sway/1234_TIME5678-abcdef";
    auto client = Ask(token);
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
    auto plain = Ask("a b");
    EXPECT_EQ(Serve(*server, plain), std::vector<std::string>{""});
    EXPECT_EQ(plain.get(), CaptureRequestResult::Taken);
    for (const std::string& raw :
         std::vector<std::string>{"capture \n", "capture a b\n", "capture  x\n",
                                  "capture " + std::string(256, 'x') + "\n", "capturex\n"}) {
        RawChannelClient raw_client(path_);
        ASSERT_TRUE(raw_client.Connected());
        ASSERT_TRUE(raw_client.Send(raw));
        EXPECT_EQ(raw_client.Answer(), "?\n") << raw;
    }
    RawChannelClient gone(path_);
    ASSERT_TRUE(gone.Send("capt"));
    gone.Close();
    EXPECT_TRUE(server->TakeRequests().empty());
}

// Ten clients that connect and say nothing and one that trickles its request: a request made
// after them is taken while every one of them still waits.
TEST_F(CaptureChannel, StalledClientsDoNotHoldUpARequest) {
    auto server = CaptureChannelServer::Listen(path_, 60000);
    ASSERT_NE(server, nullptr);
    std::vector<RawChannelClient> stalled;
    for (int i = 0; i < 10; ++i)
        stalled.emplace_back(path_);
    RawChannelClient& trickler = stalled.emplace_back(path_);
    ASSERT_TRUE(trickler.Send("c"));
    auto client = Ask();
    EXPECT_EQ(Serve(*server, client).size(), 1u);
    EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
    for (RawChannelClient& waiting : stalled) {
        ASSERT_TRUE(waiting.Connected());
        EXPECT_TRUE(waiting.StillWaiting()) << "a stalled client was read to its end first";
    }
}

// Each client has one deadline for its whole request: a trickler that would finish after it is
// dropped with "busy" and never counted, however steadily it sends.
TEST_F(CaptureChannel, AClientPastItsDeadlineIsDroppedWithBusy) {
    auto server = CaptureChannelServer::Listen(path_, 200);
    ASSERT_NE(server, nullptr);
    RawChannelClient silent(path_);
    RawChannelClient trickler(path_);
    ASSERT_TRUE(silent.Connected() && trickler.Connected());
    for (char c : std::string("capture\n")) {
        if (!trickler.Send(std::string(1, c)))
            break; // the server may have closed before the last bytes
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    EXPECT_EQ(silent.Answer(), "busy\n");
    EXPECT_EQ(trickler.Answer(), "busy\n");
    EXPECT_TRUE(server->TakeRequests().empty());
}

// More clients than are read at one time: the ones beyond are told "busy" at once.
TEST_F(CaptureChannel, ClientsBeyondTheReadingLimitAreBusyAtOnce) {
    auto server = CaptureChannelServer::Listen(path_, 60000);
    ASSERT_NE(server, nullptr);
    std::vector<RawChannelClient> clients;
    for (std::size_t i = 0; i < CaptureChannelServer::kMaxReading + 3; ++i) {
        clients.emplace_back(path_);
        ASSERT_TRUE(clients.back().Connected());
    }
    int busy = 0;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (i >= CaptureChannelServer::kMaxReading) {
            ASSERT_TRUE(clients[i].Readable(10000));
        }
        if (clients[i].Readable(0) && clients[i].Answer() == "busy\n")
            ++busy;
    }
    EXPECT_EQ(busy, 3);
}

} // namespace
