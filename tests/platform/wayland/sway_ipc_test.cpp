#include "platform/wayland/sway_ipc.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
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

// A one-connection stand-in for the compositor's socket.
class FakeSway {
public:
    FakeSway(const std::string& path, std::function<void(int fd)> serve) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(fd_, 1), 0);
        thread_ = std::thread([this, serve] {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client >= 0) {
                serve(client);
                ::close(client);
            }
        });
    }
    ~FakeSway() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }

private:
    std::string path_;
    int fd_ = -1;
    std::thread thread_;
};

std::string ReadRequest(int fd) {
    char buffer[kSwayHeaderSize];
    std::size_t got = 0;
    while (got < sizeof buffer) {
        const ssize_t n = ::recv(fd, buffer + got, sizeof buffer - got, 0);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return std::string(buffer, got);
}

TEST(SwayQuery, ReplyArrivingInPieces) {
    testing::TempDir dir("glimmerly-sway");
    const std::string tree = "{\"focused\":true}";
    std::string request;
    {
        FakeSway sway(dir.Path("ipc.sock"), [&](int fd) {
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
        FakeSway sway(dir.Path("silent.sock"), [](int fd) {
            ReadRequest(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(SwayQuery(dir.Path("silent.sock"), kSwayGetTree, {}, 100));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    }
    {
        // Announces 100 bytes, sends 10 and hangs up.
        FakeSway sway(dir.Path("short.sock"), [](int fd) {
            ReadRequest(fd);
            const std::string reply = SwayRequest(kSwayGetTree, std::string(100, 'x'));
            ::send(fd, reply.data(), kSwayHeaderSize + 10, MSG_NOSIGNAL);
        });
        EXPECT_FALSE(SwayQuery(dir.Path("short.sock"), kSwayGetTree, {}));
    }
}

} // namespace
} // namespace glimmerly::platform::wayland
