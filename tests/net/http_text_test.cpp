#include "net/http_errors.h"
#include "net/http_text.h"

#include <gtest/gtest.h>

namespace glimmerly::net {
namespace {

TEST(ParseUrl, SplitsWithoutEncoding) {
    ParsedUrl u = ParseUrl("http://localhost:8460/setname.php?filename=a b&newfilename=x\xFCy");
    EXPECT_EQ(u.protocol, "http");
    EXPECT_EQ(u.host, "localhost");
    EXPECT_EQ(u.port, "8460");
    EXPECT_EQ(u.path, "/");
    EXPECT_EQ(u.document, "setname.php");
    EXPECT_EQ(u.params, "?filename=a b&newfilename=x\xFCy");
    EXPECT_EQ(u.Target(), "/setname.php?filename=a b&newfilename=x\xFCy");

    u = ParseUrl("http://h/a/b/c.php");
    EXPECT_EQ(u.path, "/a/b/");
    EXPECT_EQ(u.document, "c.php");
    EXPECT_EQ(u.port, "");

    EXPECT_EQ(ParseUrl("http://h").Target(), "/");
    EXPECT_EQ(ParseUrl("http://h/").Target(), "/");
    EXPECT_EQ(ParseUrl("http://user:pw@h:81/x").host, "h");
}

TEST(ParseUrl, QueryStartsAtQuestionMarkElseAtEquals) {
    // Without "?", a "/" after the "=" belongs to the params, not to the path.
    ParsedUrl u = ParseUrl("http://h/dir/doc=a/b");
    EXPECT_EQ(u.path, "/dir/");
    EXPECT_EQ(u.document, "doc");
    EXPECT_EQ(u.params, "=a/b");
    u = ParseUrl("http://h/dir/doc?x=a/b");
    EXPECT_EQ(u.path, "/dir/");
    EXPECT_EQ(u.params, "?x=a/b");
}

TEST(ParseUrl, BackslashesAndFragments) {
    EXPECT_EQ(ParseUrl("http://h/s.php?n=a\\b").Target(), "/s.php?n=a/b");
    EXPECT_EQ(ParseUrl("http:\\\\h\\d\\s.php").Target(), "/d/s.php");
    EXPECT_EQ(ParseUrl("http:\\\\h\\d\\s.php").host, "h");
    EXPECT_EQ(ParseUrl("http://h/s.php?n=a#b&c=d").Target(), "/s.php?n=a");
    // A "#" in the document cuts the document only; the params stay.
    EXPECT_EQ(ParseUrl("http://h/doc#frag?x=1").Target(), "/doc?x=1");
}

TEST(StatusCode, ReadsTheSecondWord) {
    EXPECT_EQ(StatusCode("HTTP/1.1 200 OK"), 200);
    EXPECT_EQ(StatusCode("HTTP/1.0   404   Not Found"), 404);
    EXPECT_EQ(StatusCode("HTTP/1.1 100"), 100);
    EXPECT_EQ(StatusCode("HTTP/1.1"), -1);
    EXPECT_EQ(StatusCode("HTTP/1.1 OK"), -1);
    EXPECT_EQ(StatusCode("HTTP/1.1 99999999999 big"), -1);
    EXPECT_EQ(StatusCode(""), -1);
}

TEST(Numbers, DecimalAndHexRefuseJunkAndOverflow) {
    EXPECT_EQ(ParseDecimal("123"), 123);
    EXPECT_EQ(ParseDecimal("-5"), -5);
    EXPECT_EQ(ParseDecimal("9223372036854775807"), INT64_MAX);
    EXPECT_FALSE(ParseDecimal("9223372036854775808"));
    EXPECT_FALSE(ParseDecimal("12a"));
    EXPECT_FALSE(ParseDecimal(""));
    EXPECT_FALSE(ParseDecimal("-"));
    EXPECT_EQ(ParseHex("1a"), 26);
    EXPECT_EQ(ParseHex("7FFFFFFFFFFFFFFF"), INT64_MAX);
    EXPECT_FALSE(ParseHex("8000000000000000"));
    EXPECT_FALSE(ParseHex("5;ext=1"));
    EXPECT_FALSE(ParseHex("-5"));
}

TEST(HeaderLines, ContinuationsJoinAndFirstOccurrenceCounts) {
    const auto headers = ParseHeaderLines({"Content-Type:  text/html ", "X-Long: one", "\ttwo",
                                           "  three", "x-long: second", "NoColon"});
    ASSERT_EQ(headers.size(), 4u);
    EXPECT_EQ(HeaderValue(headers, "content-type"), "text/html");
    EXPECT_EQ(HeaderValue(headers, "X-LONG"), "one two three");
    EXPECT_EQ(HeaderValue(headers, "missing"), "");
}

TEST(FoldHeaderLine, BreaksLongLinesOutsideQuotes) {
    EXPECT_EQ(FoldHeaderLine("Host: h").size(), 1u);
    std::string cookie = "Cookie: ";
    for (int i = 0; i < 200; ++i) {
        cookie += "name" + std::to_string(i) + "=value" + std::to_string(i) + "; ";
    }
    cookie += "last=1";
    const auto lines = FoldHeaderLine(cookie);
    ASSERT_GT(lines.size(), 2u);
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), 1024u);
        EXPECT_NE(lines[i].back(), ' ');
        if (i > 0) {
            EXPECT_EQ(lines[i][0], ' ');
            EXPECT_NE(lines[i][1], ' ');
        }
        if (i > 0) {
            joined += ' ';
        }
        joined += lines[i].substr(i > 0 ? 1 : 0);
    }
    EXPECT_EQ(joined, cookie);

    // A quoted stretch is never broken; a line without any break point stays whole.
    const std::string quoted = "X: \"" + std::string(1100, 'a') + " b\" tail";
    const auto q = FoldHeaderLine(quoted);
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0], "X:");
    EXPECT_EQ(q[1], " \"" + std::string(1100, 'a') + " b\"");
    EXPECT_EQ(q[2], " tail");
    const std::string solid = "X:" + std::string(3000, 'z');
    EXPECT_EQ(FoldHeaderLine(solid), std::vector<std::string>{solid});
}

TEST(SocketErrors, NumbersAndTexts) {
    EXPECT_STREQ(SocketError(10061).what(), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_STREQ(SocketError(10035).what(), "Socket Error # 10035\r\nOperation would block. ");
    EXPECT_STREQ(SocketError(12345).what(), "Socket Error # 12345\r\n");
    EXPECT_STREQ(SocketErrorText(10066), "Directory not empty");
    EXPECT_STREQ(SocketErrorText(11001), "Host not found.");
}

#ifndef _WIN32
// Windows gives these numbers itself; POSIX systems have their own, which are mapped.
TEST(SocketErrors, PosixNumbersMapped) {
    EXPECT_EQ(SocketErrorNumber(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrorNumber(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorNumber(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorNumber(EPIPE), 10053);
    EXPECT_EQ(SocketErrorNumber(ENETUNREACH), 10051);
    EXPECT_EQ(SocketErrorNumber(EHOSTUNREACH), 10065);
    EXPECT_EQ(SocketErrorNumber(EADDRINUSE), 10048);
    EXPECT_EQ(SocketErrorNumber(EINPROGRESS), 10036);
    EXPECT_EQ(SocketErrorNumber(EAGAIN), 10035);
}
#endif

} // namespace
} // namespace glimmerly::net
