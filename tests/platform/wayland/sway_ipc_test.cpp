#include "platform/wayland/sway_ipc.h"

#include "tests/platform/wayland/one_client_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace glimmerly::platform::wayland {
namespace {

TEST(SwayFraming, HeaderBytesAndReplyChecks) {
    const std::string request = SwayRequest(kSwayGetTree, "ab");
    ASSERT_EQ(request.size(), kSwayHeaderSize + 2);
    EXPECT_EQ(request.substr(0, 6), "i3-ipc");
    std::uint32_t length = 0, type = 0;
    std::memcpy(&length, request.data() + 6, 4);
    std::memcpy(&type, request.data() + 10, 4);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(request.substr(14), "ab");

    const std::string header = SwayRequest(kSwayGetTree, std::string(1000, 'x')).substr(0, 14);
    EXPECT_EQ(SwayReplyLength(header, kSwayGetTree), 1000u);
    EXPECT_FALSE(SwayReplyLength(header, 3)); // a reply to another request
    EXPECT_FALSE(SwayReplyLength("i3-ipX" + header.substr(6), kSwayGetTree));
    EXPECT_FALSE(SwayReplyLength(header.substr(0, 13), kSwayGetTree));
    std::string huge = header;
    const std::uint32_t tooLong = kMaxSwayReply + 1;
    std::memcpy(huge.data() + 6, &tooLong, 4);
    EXPECT_FALSE(SwayReplyLength(huge, kSwayGetTree));
}

std::string ReadRequest(int fd) {
    return OneClientServer::Receive(fd, kSwayHeaderSize);
}

TEST(SwayQuery, ReplyArrivingInPieces) {
    testing::TempDir dir("glimmerly-sway");
    const std::string tree = "{\"focused\":true}";
    std::string request;
    {
        OneClientServer sway(dir.Path("ipc.sock"), [&](int fd) {
            request = ReadRequest(fd);
            const std::string reply = SwayRequest(kSwayGetTree, tree);
            for (char c : reply) { // one byte at a time
                ::send(fd, &c, 1, MSG_NOSIGNAL);
            }
        });
        const auto reply = SwayQuery(dir.Path("ipc.sock"), kSwayGetTree, {});
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, tree);
    }
    EXPECT_EQ(request, SwayRequest(kSwayGetTree, {}));
}

TEST(SwayQuery, NothingFromAMissingSilentOrCutOffCompositor) {
    testing::TempDir dir("glimmerly-sway");
    EXPECT_FALSE(SwayQuery(dir.Path("none.sock"), kSwayGetTree, {}));
    EXPECT_FALSE(SwayQuery("", kSwayGetTree, {}));
    {
        // Answers nothing: the query gives up after its timeout instead of hanging.
        OneClientServer sway(dir.Path("silent.sock"), [](int fd) {
            ReadRequest(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(SwayQuery(dir.Path("silent.sock"), kSwayGetTree, {}, 100));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    }
    {
        // Announces 100 bytes, sends 10 and hangs up.
        OneClientServer sway(dir.Path("short.sock"), [](int fd) {
            ReadRequest(fd);
            const std::string reply = SwayRequest(kSwayGetTree, std::string(100, 'x'));
            ::send(fd, reply.data(), kSwayHeaderSize + 10, MSG_NOSIGNAL);
        });
        EXPECT_FALSE(SwayQuery(dir.Path("short.sock"), kSwayGetTree, {}));
    }
}

} // namespace
} // namespace glimmerly::platform::wayland
