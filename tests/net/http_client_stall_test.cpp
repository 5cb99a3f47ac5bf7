// The HTTP client when the other side stalls, refuses or goes away, and the progress it reports.
#include "tests/net/http_client_fixture.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

namespace glimmerly::net::client_test {
namespace {

TEST_F(HttpClientTest, StalledErrorBodyEndsAfterTwoSeconds) {
    LoopbackServer server([](ServerConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\npartial");
        c.Stall(20000);
    });
    const auto start = std::chrono::steady_clock::now();
    const auto error = Raised<HttpError>([&] { client.Get(server.Url("/")); });
    EXPECT_STREQ(error.what(), "Read Timeout");
    // It waited its two seconds, and ended long before the server would have.
    EXPECT_GE(SecondsSince(start), 1.9);
    EXPECT_LT(SecondsSince(start), 10.0);
}

TEST_F(HttpClientTest, ConnectionRefused) {
    const auto error = Raised<SocketError>(
        [&] { client.Get("http://127.0.0.1:" + std::to_string(testing::UnusedPort()) + "/"); });
    EXPECT_EQ(error.number(), 10061);
    EXPECT_STREQ(error.what(), "Socket Error # 10061\r\nConnection refused.");
}

TEST_F(HttpClientTest, IdleTimeoutEndsAStalledReceive) {
    LoopbackServer server([](ServerConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nsome");
        c.Stall(10000);
    });
    client.SetIdleTimeout(300);
    const auto start = std::chrono::steady_clock::now();
    const auto error = Raised<HttpError>([&] { client.Get(server.Url("/")); });
    EXPECT_STREQ(error.what(), "Read Timeout");
    EXPECT_LT(SecondsSince(start), 6.0); // the server would stall 10 s
}

TEST_F(HttpClientTest, IdleTimeoutEndsAStalledSend) {
    // The server takes the head and then stops reading; the body fills every buffer.
    LoopbackServer server(
        [](ServerConnection& c) {
            c.ReadHead();
            c.Stall(10000);
        },
        4096);
    const std::string path = dir.Path("big.jpg");
    std::filesystem::resize_file(dir.Write("big.jpg", ""), 32 << 20);
    MultipartBody body;
    body.AddFilePart("screenshot", path, "image/jpeg");
    client.SetIdleTimeout(300);
    const auto start = std::chrono::steady_clock::now();
    const auto error = Raised<SocketError>([&] { client.Post(server.Url("/upload.php"), body); });
    EXPECT_EQ(error.number(), 10060);
    EXPECT_LT(SecondsSince(start), 6.0); // the server would stall 10 s
}

TEST_F(HttpClientTest, CancelFromAnotherThreadEndsAStalledRequest) {
    LoopbackServer server([](ServerConnection& c) {
        c.ReadRequest();
        c.Stall(10000);
    });
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        client.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto error = Raised<SocketError>([&] { client.Get(server.Url("/")); });
    canceller.join();
    EXPECT_EQ(error.number(), 10004);
    EXPECT_LT(SecondsSince(start), 6.0); // the server would stall 10 s
    // And it stays cancelled: the program is on its way out.
    EXPECT_THROW(client.Get(server.Url("/")), SocketError);
}

TEST_F(HttpClientTest, FileCutShortWhileQueuedFailsTheUpload) {
    LoopbackServer server([](ServerConnection& c) {
        c.ReadHead();
        c.Stall(3000);
    });
    const std::string path = dir.Write("screen.jpg", std::string(1000, 'j'));
    MultipartBody body;
    body.AddFilePart("screenshot", path, "image/jpeg");
    std::filesystem::resize_file(path, 10);
    const auto error = Raised<HttpError>([&] { client.Post(server.Url("/upload.php"), body); });
    EXPECT_STREQ(error.what(), "No data to read.");
}

// --- progress --------------------------------------------------------------------------------

TEST_F(HttpClientTest, ProgressEventsOfAnUpload) {
    LoopbackServer server(Answer({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nok|12",
                                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"}));
    std::vector<std::string> events;
    client.OnWorkBegin = [&](int mode, std::int64_t max) {
        events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    client.OnWork = [&](int mode, std::int64_t count) {
        events.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
    };
    client.OnWorkEnd = [&](int mode) { events.push_back("end " + std::to_string(mode)); };

    // A body of exactly 70000 bytes, whatever the length of the temporary folder's name.
    const std::string path = dir.Path("screen.jpg");
    dir.Write("screen.jpg", std::string(std::size_t(70000 - 357 - path.size()), 'x'));
    MultipartBody exact;
    exact.AddField("filename", "screenshot");
    exact.AddField("version", "3.2");
    exact.AddFilePart("screenshot", path, "image/jpeg");
    ASSERT_EQ(exact.TotalSize(), 70000);

    EXPECT_EQ(client.Post(server.Url("/upload.php"), exact), "ok|12");
    EXPECT_EQ(events, (std::vector<std::string>{"begin 1 70000", "work 1 32768", "work 1 65536",
                                                "work 1 70000", "end 1", "begin 0 5", "work 0 5",
                                                "end 0"}));
    events.clear();
    client.Get(server.Url("/"));
    EXPECT_EQ(events, (std::vector<std::string>{"begin 0 3", "work 0 3", "end 0", "begin 0 2",
                                                "work 0 2", "end 0"}));
}

} // namespace
} // namespace glimmerly::net::client_test
