// The reader's limits at their edges: the length of one line, and the lines and bytes of a
// header block. Each is taken when just within, refused one past.
#include "tests/net/http_client_fixture.h"

#include <string>

namespace glimmerly::net::client_test {
namespace {

// An answer "ok" whose header block has `lines` lines of `bytes` in all (line ends not
// counted), the last of them its Content-Length.
std::string WithHeaderBlock(std::size_t lines, std::size_t bytes) {
    const std::string length = "Content-Length: 2";
    std::string answer = "HTTP/1.1 200 OK\r\n";
    std::size_t left = bytes - length.size();
    for (std::size_t fillers = lines - 1; fillers > 0; --fillers) {
        const std::size_t share = left / fillers;
        answer += "X-F: " + std::string(share - 5, 'f') + "\r\n";
        left -= share;
    }
    return answer + length + "\r\n\r\nok";
}

TEST_F(HttpClientTest, AHeaderBlockMayHaveAThousandLinesAndNoMore) {
    const std::size_t limit = HttpClient::kMaxHeaderLines;
    LoopbackServer server(Answer({WithHeaderBlock(limit, 17 + 10 * (limit - 1)),
                                  WithHeaderBlock(limit + 1, 17 + 10 * limit), kOk}));
    EXPECT_EQ(client.Get(server.Url("/a")), "ok");
    const auto error = Raised<HttpError>([&] { client.Get(server.Url("/b")); });
    EXPECT_STREQ(error.what(), "Header block too large.");
    EXPECT_EQ(client.Get(server.Url("/c")), "ok");
}

TEST_F(HttpClientTest, AHeaderBlockMayHaveAMebibyteAndNoMore) {
    const std::size_t limit = HttpClient::kMaxHeaderBytes;
    LoopbackServer server(
        Answer({WithHeaderBlock(100, limit), WithHeaderBlock(100, limit + 1), kOk}));
    EXPECT_EQ(client.Get(server.Url("/a")), "ok");
    const auto error = Raised<HttpError>([&] { client.Get(server.Url("/b")); });
    EXPECT_STREQ(error.what(), "Header block too large.");
    EXPECT_EQ(client.Get(server.Url("/c")), "ok");
}

// A line that has already passed the limit is refused at once, without waiting for its end; one
// at the limit is waited for.
TEST_F(HttpClientTest, ALineTooLongIsRefusedBeforeItEnds) {
    const std::size_t limit = HttpClient::kMaxLineLength;
    LoopbackServer server([limit](ServerConnection& c) {
        const std::string request = c.ReadRequest();
        const bool longer = request.find("/longer ") != std::string::npos;
        c.Send("HTTP/1.1 200 OK\r\nX-Fill: " + std::string(limit + longer - 9, 'a') + "\r");
        c.Stall(longer ? 10000 : 300);
        c.Send("\nContent-Length: 2\r\n\r\nok");
    });
    client.SetIdleTimeout(5000);
    EXPECT_EQ(client.Get(server.Url("/edge")), "ok");
    const auto start = std::chrono::steady_clock::now();
    const auto error = Raised<HttpError>([&] { client.Get(server.Url("/longer")); });
    EXPECT_STREQ(error.what(), "Max line length exceeded.");
    EXPECT_LT(SecondsSince(start), 4.0);
}

} // namespace
} // namespace glimmerly::net::client_test
