#pragma once
// The HTTP client's in-memory cookie store. It takes the cookies of every response header block
// and gives the Cookie header value before every request. Never written to disk.
//
// Thread safety: many readers, one writer (std::shared_mutex).

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

namespace glimmerly::net {

struct Cookie {
    std::string name;
    std::string value;
    std::string domain;
    std::string path;
    std::string expires; // date text; empty: lives as long as the store
    // The moment the cookie ends, kept finer than the date text so that a cookie ended by
    // "Max-Age=0" is gone for the very next request. Empty: no readable date.
    std::optional<std::chrono::sys_time<std::chrono::microseconds>> expiresAt;
    bool secure = false;
    int kind = 1; // 1: from "Set-cookie", 2: from "Set-cookie2"
    std::string version;
    std::string comment;
};

class CookieStore {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Limits that keep a hostile server from growing the store without bound. A cookie beyond
    // them is dropped; replacing an existing one always works.
    static constexpr std::size_t kMaxCookies = 1000;
    static constexpr std::size_t kMaxCookiesPerKey = 50;
    static constexpr std::size_t kMaxCookieText = 4096; // bytes of one Set-cookie value

    // `now` defaults to the system clock; tests pass their own.
    explicit CookieStore(Clock now = {});
    void SetClock(Clock now);

    // Takes the cookies of one response header block (raw header lines in arrival order),
    // received for a request to `host` with request path `path` (ending in "/").
    void Store(const std::vector<std::string>& headerLines, const std::string& host,
               const std::string& path);

    // The Cookie header value for a request: removes expired cookies first, then joins the
    // cookies that apply as "name=value; ..." from the longest path to the shortest. Empty when
    // none applies.
    std::string CookieHeader(const std::string& host, const std::string& path);

    std::size_t Count() const;
    std::vector<Cookie> All() const;

private:
    void Take(Cookie cookie);
    std::chrono::sys_time<std::chrono::microseconds> Now() const;

    mutable std::shared_mutex lock_;
    Clock now_;
    std::map<std::string, std::vector<Cookie>> byKey_; // key: domain followed by path
    std::size_t count_ = 0;
};

} // namespace glimmerly::net
