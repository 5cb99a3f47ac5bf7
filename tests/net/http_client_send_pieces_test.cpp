// What the HTTP client hands to send(): the pieces of a request and the MSG_MORE flag on each.
// POSIX only: it puts its own send() in place of the C library's.
#include "tests/net/http_client_fixture.h"

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace glimmerly::net::client_test {
namespace {

// What one thread handed to send(), call by call: the byte count and whether it said that more
// of the same message was to come.
struct SendCall {
    std::size_t bytes;
    bool more;
};

std::mutex sendLogMutex;
std::vector<SendCall> sendLog;
std::atomic<bool> sendLogging{false};
std::thread::id sendLogThread;

// Notes the send() calls of the thread that creates it, until it goes.
class SendLog {
public:
    SendLog() {
        std::lock_guard lock(sendLogMutex);
        sendLog.clear();
        sendLogThread = std::this_thread::get_id();
        sendLogging = true;
    }
    ~SendLog() { sendLogging = false; }
    std::vector<SendCall> Calls() const {
        std::lock_guard lock(sendLogMutex);
        return sendLog;
    }
};

} // namespace
} // namespace glimmerly::net::client_test

// The test program's own send() stands in for the C library's: it notes the calls of a thread
// that keeps a SendLog and hands every call on to the kernel unchanged.
extern "C" ssize_t send(int fd, const void* data, size_t n, int flags) {
    using namespace glimmerly::net::client_test;
    const long sent = ::syscall(SYS_sendto, fd, data, n, flags, nullptr, 0);
    if (sendLogging && sent > 0) {
        std::lock_guard lock(sendLogMutex);
        if (std::this_thread::get_id() == sendLogThread)
            sendLog.push_back({static_cast<std::size_t>(sent), (flags & MSG_MORE) != 0});
    }
    return sent;
}

namespace glimmerly::net::client_test {
namespace {

// The pieces of a request but the last are handed over as "more to come"; the last must say
// that nothing follows, or the kernel holds the request's end back for a fifth of a second.
// Checked on what the client hands to send(), not on a clock: a loaded machine can be slow.
TEST_F(HttpClientTest, TheEndOfARequestIsHandedOverAsTheEnd) {
    LoopbackServer server([](const testing::RecordedRequest&) { return LoopbackServer::Ok("ok"); });
    for (const std::size_t size : {std::size_t(10), std::size_t(32768 * 2), std::size_t(300000)}) {
        SCOPED_TRACE(size);
        const std::string path = dir.Write("screen.jpg", std::string(size, 'j'));
        MultipartBody body;
        body.AddField("filename", "screenshot");
        body.AddFilePart("screenshot", path, "image/jpeg");
        std::vector<SendCall> calls;
        {
            SendLog log;
            EXPECT_EQ(client.Post(server.Url("/upload.php"), body), "ok");
            calls = log.Calls();
        }
        ASSERT_GE(calls.size(), 2u); // the head, then the body
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].more, i + 1 < calls.size())
                << "call " << i << " of " << calls.size();
            bytes += calls[i].bytes;
        }
        const testing::RecordedRequest request = server.Requests().back();
        EXPECT_EQ(bytes, request.head.size() + request.body.size());
        EXPECT_EQ(std::int64_t(request.body.size()), body.TotalSize());
    }
    // A request without a body is its head alone.
    {
        SendLog log;
        EXPECT_EQ(client.Get(server.Url("/setname.php?name=a")), "ok");
        const std::vector<SendCall> calls = log.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_FALSE(calls[0].more);
    }
    EXPECT_EQ(server.Requests().size(), 4u);
}

} // namespace
} // namespace glimmerly::net::client_test
