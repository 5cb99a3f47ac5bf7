// Capture requests from other copies, taken on the window thread from real clients of the
// channel.

#include "app/capture_requests.h"
#include "platform/capture_channel.h"
#include "tests/platform/channel_client.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>
#include <vector>

using glimmerly::CaptureRequests;
using glimmerly::platform::CaptureChannelServer;
using glimmerly::platform::CaptureRequestResult;
using glimmerly::platform::SendCaptureRequest;

namespace {

using glimmerly::testing::RawChannelClient;

class CaptureRequestsOnTheWindowThread : public ::testing::Test {
protected:
    // Runs the window thread's events until `done` or a generous limit of turns.
    template <typename Done> void RunUntil(Done done) {
        for (int turn = 0; turn < 2000 && !done(); ++turn) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    glimmerly::testing::ChannelPlace place_;
    const std::string path_ = place_.Path();
};

TEST_F(CaptureRequestsOnTheWindowThread, StalledClientsNeitherBlockTheWindowNorHoldUpARequest) {
    // Stalled clients are given up on after a minute here: all of this happens well before.
    auto server = CaptureChannelServer::Listen(path_, 60000);
    ASSERT_NE(server, nullptr);
    int captures = 0;
    int ticks = 0;
    int ticksAtCapture = -1;
    CaptureRequests requests(
        *server, [] { return true; },
        [&](const std::string&) {
            ++captures;
            ticksAtCapture = ticks;
        });
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);

    // Ten clients that connect and say nothing, one that trickles its request a byte at a time.
    std::vector<RawChannelClient> stalled;
    for (int i = 0; i < 10; ++i)
        stalled.emplace_back(path_);
    RawChannelClient& trickler = stalled.emplace_back(path_);
    ASSERT_TRUE(trickler.Send("ca"));
    RunUntil([&] { return ticks >= 3; });

    // The window thread keeps turning, and a real request is taken meanwhile.
    auto client = std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0); });
    RunUntil([&] { return client.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    ASSERT_EQ(client.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
    EXPECT_EQ(captures, 1);
    EXPECT_GE(ticksAtCapture, 3);
    for (RawChannelClient& waiting : stalled) {
        ASSERT_TRUE(waiting.Connected());
        EXPECT_TRUE(waiting.StillWaiting()) << "a stalled client was waited for first";
    }
}

// The answer comes once the request is decided: "busy" and no capture while the program would
// drop a press of Print, "ok" before the capture runs (which holds the window thread while the
// editor is open), and "busy" for requests that come while it runs.
TEST_F(CaptureRequestsOnTheWindowThread, EachRequestIsAnsweredAsDecidedBeforeTheCapture) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    bool ready = false;
    std::vector<std::string> captured;
    int answeredBeforeCaptureEnded = 0;
    std::vector<std::future<CaptureRequestResult>> clients;
    CaptureRequests requests(
        *server, [&] { return ready; },
        [&](const std::string& token) {
            captured.push_back(token);
            ready = false; // busy from here on, as after a press of Print
            for (auto& client : clients) {
                if (client.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
                    ++answeredBeforeCaptureEnded;
            }
        });
    const auto allAnswered = [&] {
        for (auto& client : clients) {
            if (client.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
                return false;
        }
        return true;
    };
    QTimer keepTurning;
    keepTurning.start(5);

    clients.push_back(
        std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0, "t1"); }));
    RunUntil(allAnswered);
    ASSERT_TRUE(allAnswered());
    EXPECT_EQ(clients[0].get(), CaptureRequestResult::Dropped);
    EXPECT_TRUE(captured.empty());

    ready = true;
    clients.clear();
    clients.push_back(
        std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0, "t2"); }));
    RunUntil(allAnswered);
    ASSERT_TRUE(allAnswered());
    EXPECT_EQ(clients[0].get(), CaptureRequestResult::Taken);
    EXPECT_EQ(captured, std::vector<std::string>{"t2"});
    EXPECT_EQ(answeredBeforeCaptureEnded, 1);

    clients.clear();
    for (const char* token : {"t3", "t4"}) {
        clients.push_back(std::async(
            std::launch::async, [this, token] { return SendCaptureRequest(path_, 0, token); }));
    }
    RunUntil(allAnswered);
    ASSERT_TRUE(allAnswered());
    for (auto& client : clients)
        EXPECT_EQ(client.get(), CaptureRequestResult::Dropped);
    EXPECT_EQ(captured.size(), 1u);
}

} // namespace
