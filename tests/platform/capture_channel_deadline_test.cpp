// The capture channel's deadline with several clients that connect one after another and say
// nothing: each is dropped with "busy" when its own time is up, neither at the first one's
// deadline nor held until the last one's.

#include "platform/capture_channel.h"
#include "tests/platform/channel_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using glimmerly::platform::CaptureChannelServer;
using glimmerly::testing::ChannelPlace;
using glimmerly::testing::RawChannelClient;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kDeadlineMs = 800;
// Between one client's connection and the next one's: half a deadline, so that every client's
// deadline falls while the next one still waits.
constexpr int kApartMs = 400;
// How late an answer may come on a busy machine, well short of the next deadline.
constexpr int kLateMs = 300;

struct SilentClient {
    long long waitedMs = -1; // from just before the connection to the answer
    std::string answer;
};

TEST(CaptureChannelDeadlines, EachSilentClientIsDroppedAtItsOwnDeadline) {
    const ChannelPlace place;
    auto server = CaptureChannelServer::Listen(place.Path(), kDeadlineMs);
    ASSERT_NE(server, nullptr);
    std::vector<std::future<SilentClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::async(std::launch::async, [&place, i] {
            std::this_thread::sleep_for(milliseconds(i * kApartMs));
            SilentClient result;
            const Clock::time_point before = Clock::now();
            RawChannelClient client(place.Path());
            if (!client.Connected())
                return result;
            result.answer = client.Answer();
            result.waitedMs =
                std::chrono::duration_cast<milliseconds>(Clock::now() - before).count();
            return result;
        }));
    }
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const SilentClient client = clients[i].get();
        EXPECT_EQ(client.answer, "busy\n") << "client " << i;
        EXPECT_GE(client.waitedMs, kDeadlineMs) << "client " << i << " dropped before its time";
        EXPECT_LE(client.waitedMs, kDeadlineMs + kLateMs)
            << "client " << i << " held past its own deadline";
    }
    EXPECT_TRUE(server->TakeRequests().empty());
}

} // namespace
