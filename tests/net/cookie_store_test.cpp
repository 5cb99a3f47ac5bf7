#include "net/cookie_store.h"
#include "net/http_text.h"

#include <gtest/gtest.h>

namespace glimmerly::net {
namespace {

using namespace std::chrono_literals;
using TimePoint = std::chrono::system_clock::time_point;

constexpr std::time_t kNow = 1796558400; // 6 Dec 2026 12:00:00 UTC

class CookieStoreTest : public ::testing::Test {
protected:
    CookieStoreTest() : store([this] { return now; }) {}
    void Receive(const std::string& header, const std::string& host = "localhost",
                 const std::string& path = "/") {
        store.Store({"Content-Type: text/html", header}, host, path);
    }
    TimePoint now = std::chrono::system_clock::from_time_t(kNow);
    CookieStore store;
};

TEST_F(CookieStoreTest, HostOnlyCookieGoesBackToItsHostAndPathPrefix) {
    Receive("Set-Cookie: sid=abc; Path=/session/");
    EXPECT_EQ(store.CookieHeader("localhost", "/session/"), "sid=abc");
    EXPECT_EQ(store.CookieHeader("localhost", "/session/deeper/"), "sid=abc");
    EXPECT_EQ(store.CookieHeader("localhost", "/"), "");
    EXPECT_EQ(store.CookieHeader("localhost", "/Session/"), "");
    EXPECT_EQ(store.CookieHeader("127.0.0.1", "/session/"), "");
    EXPECT_EQ(store.CookieHeader("otherhost", "/session/"), "");
    // The host compares without regard to case.
    EXPECT_EQ(store.CookieHeader("LocalHost", "/session/"), "sid=abc");
}

TEST_F(CookieStoreTest, ExpiredCookiesAreRemovedBeforeTheNextRequest) {
    Receive("Set-Cookie: old=1; Path=/; Expires=Thu, 01 Jan 1970 00:00:01 GMT");
    Receive("Set-Cookie: young=2; Path=/; Max-Age=60");
    Receive("Set-Cookie: gone=3; Path=/; max-age=0");
    Receive("Set-Cookie: later=4; Path=/; expires=Fri, 31-Dec-99 23:59:59 GMT");
    Receive("Set-Cookie: far=5; Path=/; expires=Fri, 31 Dec 2038 23:59:59 GMT");
    EXPECT_EQ(store.Count(), 5u);
    now += 1s;
    EXPECT_EQ(store.CookieHeader("localhost", "/"), "young=2; far=5");
    EXPECT_EQ(store.Count(), 2u);
    now += 60s;
    EXPECT_EQ(store.CookieHeader("localhost", "/"), "far=5");
    EXPECT_EQ(store.Count(), 1u);
}

// Within one second of the clock: a cookie ended by Max-Age=0, or by an Expires date that has
// just passed, must not go out with the very next request.
TEST_F(CookieStoreTest, CookieEndedWithinTheSameSecondIsNotSentAgain) {
    now += 200ms;
    Receive("Set-Cookie: sid=1; Path=/; Max-Age=60");
    Receive("Set-Cookie: sid=; Path=/; Max-Age=0");
    Receive("Set-Cookie: gone=2; Path=/; Max-Age=0");
    Receive("Set-Cookie: stale=3; Path=/; Expires=" + FormatHttpDate(kNow));
    Receive("Set-Cookie: keep=4; Path=/; Max-Age=1");
    EXPECT_EQ(store.CookieHeader("localhost", "/"), "keep=4");
    EXPECT_EQ(store.Count(), 1u);
    now += 1s; // 1.2 s: within the same whole second as keep's end, and exactly at it
    EXPECT_EQ(store.CookieHeader("localhost", "/"), "");

    // With the system clock: set and asked for at once, as the client does.
    CookieStore real;
    real.Store({"Set-Cookie: a=1; Path=/; max-age=0", "Set-Cookie: b=2; Path=/; Max-Age=3600",
                "Set-Cookie: c=3; Path=/; Expires=" + FormatHttpDate(std::time(nullptr) - 1)},
               "localhost", "/");
    EXPECT_EQ(real.CookieHeader("localhost", "/"), "b=2");
}

TEST_F(CookieStoreTest, UnsendableCookiesAreKeptButNeverSent) {
    Receive("Set-Cookie: nopath=1");
    Receive("Set-Cookie: safe=2; Path=/; Secure");
    Receive("Set-Cookie: empty=; Path=/");
    EXPECT_EQ(store.Count(), 3u);
    EXPECT_EQ(store.CookieHeader("localhost", "/"), "");
    EXPECT_EQ(store.CookieHeader("localhost", "/any/"), "");
}

TEST_F(CookieStoreTest, OrderIsLongestPathFirstAndNamesReplace) {
    Receive("Set-Cookie: a=1; Path=/");
    Receive("Set-Cookie: b=2; Path=/x/y/");
    Receive("Set-Cookie: c=3; Path=/X/");
    Receive("Set-Cookie: a=10; Path=/");
    Receive("Set-Cookie2: d=4; Path=\"/x/\"; Version=1");
    EXPECT_EQ(store.Count(), 4u);
    EXPECT_EQ(store.CookieHeader("localhost", "/x/y/"), "b=2; d=4; a=10");
    // Same name under another path is another cookie.
    Receive("Set-Cookie: a=11; Path=/x/");
    EXPECT_EQ(store.CookieHeader("localhost", "/x/"), "d=4; a=11; a=10");
}

TEST_F(CookieStoreTest, DomainMustFitTheHost) {
    Receive("Set-Cookie: a=1; Path=/; Domain=.example.com", "www.example.com");
    Receive("Set-Cookie: b=2; Path=/; Domain=example.com", "www.example.com");
    Receive("Set-Cookie: c=3; Path=/; Domain=other.com", "www.example.com");
    Receive("Set-Cookie: d=4; Path=/; Domain=127.0.0.2", "127.0.0.1");
    Receive("Set-Cookie: e=5; Path=/; Domain=127.0.0.1", "127.0.0.1");
    Receive("Set-Cookie: f=6; Path=/; Domain=", "service.example.com");
    EXPECT_EQ(store.Count(), 4u);
    EXPECT_EQ(store.CookieHeader("www.example.com", "/"), "a=1; b=2");
    EXPECT_EQ(store.CookieHeader("shop.example.com", "/"), "a=1; b=2");
    EXPECT_EQ(store.CookieHeader("127.0.0.1", "/"), "e=5");
    // An empty Domain counts as none: the cookie stays with the host that set it.
    EXPECT_EQ(store.CookieHeader("service.example.com", "/"), "a=1; b=2; f=6");
    EXPECT_EQ(store.CookieHeader("elsewhere.org", "/"), "");
}

TEST_F(CookieStoreTest, EveryOccurrenceAndContinuationIsRead) {
    store.Store({"set-cookie: a=1; path=/", "SET-COOKIE: b=2;", " Path=/", "Set-Cookie: c=3"},
                "localhost", "/");
    EXPECT_EQ(store.Count(), 3u);
    EXPECT_EQ(store.CookieHeader("localhost", "/"), "a=1; b=2");
}

TEST_F(CookieStoreTest, HostileServerCannotGrowTheStoreWithoutBound) {
    for (int i = 0; i < 5000; ++i) {
        Receive("Set-Cookie: n" + std::to_string(i) + "=v; Path=/p" + std::to_string(i % 200) +
                "/");
    }
    EXPECT_EQ(store.Count(), CookieStore::kMaxCookies);
    Receive("Set-Cookie: big=" + std::string(CookieStore::kMaxCookieText, 'x') + "; Path=/");
    EXPECT_EQ(store.Count(), CookieStore::kMaxCookies);
    // Replacing an existing cookie still works when the store is full.
    Receive("Set-Cookie: n0=new; Path=/p0/");
    EXPECT_NE(store.CookieHeader("localhost", "/p0/").find("n0=new"), std::string::npos);

    CookieStore perKey;
    for (int i = 0; i < 200; ++i) {
        perKey.Store({"Set-Cookie: k" + std::to_string(i) + "=v; Path=/"}, "h", "/");
    }
    EXPECT_EQ(perKey.Count(), CookieStore::kMaxCookiesPerKey);
}

// The whole text after "Set-Cookie:" counts, attributes included.
TEST_F(CookieStoreTest, AValueOfFourKibibytesIsTheLongestTaken) {
    const std::string path = "; Path=/";
    const std::size_t room = CookieStore::kMaxCookieText - path.size() - 2;
    Receive("Set-Cookie: a=" + std::string(room, 'x') + path);
    EXPECT_EQ(store.Count(), 1u);
    Receive("Set-Cookie: b=" + std::string(room + 1, 'x') + path);
    EXPECT_EQ(store.Count(), 1u);
    EXPECT_EQ(store.CookieHeader("localhost", "/"), "a=" + std::string(room, 'x'));
}

// A domain longer than the host (by one character, or with a dot before the host) fits nothing.
TEST_F(CookieStoreTest, ADomainLongerThanTheHostIsDropped) {
    Receive("Set-Cookie: a=1; Path=/; Domain=wexample.com", "example.com");
    Receive("Set-Cookie: b=2; Path=/; Domain=.www.example.com", "www.example.com");
    Receive("Set-Cookie: c=3; Path=/; Domain=.example.com", "example.com");
    EXPECT_EQ(store.Count(), 0u);
}

TEST(HttpDate, ReadsTheCommonForms) {
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), std::time_t(784111777));
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), std::time_t(784111777));
    EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), std::time_t(784111777));
    EXPECT_EQ(ParseHttpDate(FormatHttpDate(kNow)), kNow);
    EXPECT_EQ(FormatHttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_FALSE(ParseHttpDate(""));
    EXPECT_FALSE(ParseHttpDate("tomorrow"));
    EXPECT_FALSE(ParseHttpDate("Sun, 32 Nov 1994 08:49:37 GMT"));
    EXPECT_FALSE(ParseHttpDate("Sun, 06 Nov 1994 25:49:37 GMT"));
}

// Servers delete cookies with dates long past and keep them with dates far ahead; both are
// counted on the same calendar on every system, and a 31st of a short month runs on.
TEST(HttpDate, DatesFarFromNow) {
    const std::time_t firstOf1601 = -11644473600;
    EXPECT_EQ(ParseHttpDate("Mon, 01 Jan 1601 00:00:00 GMT"), firstOf1601);
    EXPECT_EQ(FormatHttpDate(firstOf1601), "Mon, 01 Jan 1601 00:00:00 GMT");
    EXPECT_EQ(ParseHttpDate("Thu, 01 Jan 1970 00:00:00 GMT"), std::time_t(0));
    EXPECT_EQ(ParseHttpDate("Fri, 31 Dec 9999 23:59:59 GMT"), std::time_t(253402300799));
    EXPECT_EQ(FormatHttpDate(253402300799), "Fri, 31 Dec 9999 23:59:59 GMT");
    EXPECT_EQ(ParseHttpDate("Sat, 31 Feb 2024 12:00:00 GMT"),
              ParseHttpDate("Sat, 02 Mar 2024 12:00:00 GMT"));
}

} // namespace
} // namespace glimmerly::net
