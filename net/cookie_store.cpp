#include "net/cookie_store.h"

#include "net/http_text.h"

#include <algorithm>
#include <mutex>

namespace glimmerly::net {

namespace {

using Instant = std::chrono::sys_time<std::chrono::microseconds>;

constexpr std::int64_t kLatest = 253402300799; // 31 Dec 9999 23:59:59, the last date text

std::int64_t Seconds(Instant t) {
    return std::chrono::floor<std::chrono::seconds>(t).time_since_epoch().count();
}

Instant AtSecond(std::int64_t seconds) {
    return Instant(std::chrono::seconds(seconds));
}

// Does the cookie's domain fit the host of the request that set it?
bool DomainFits(const std::string& domain, const std::string& host) {
    if (IsDottedQuad(host)) {
        return domain == host;
    }
    std::string_view h = host;
    if (!domain.empty() && domain.front() == '.') {
        const std::size_t dot = h.find('.');
        if (dot != std::string_view::npos) {
            h.remove_prefix(dot);
        }
    }
    return h.size() >= domain.size() && h.substr(h.size() - domain.size()) == domain;
}

std::string StripQuotes(std::string_view v) {
    if (!v.empty() && v.front() == '"') {
        v.remove_prefix(1);
    }
    if (!v.empty() && v.back() == '"') {
        v.remove_suffix(1);
    }
    return std::string(v);
}

// One Set-cookie value → cookie, before the domain check.
Cookie ParseCookie(std::string_view text, int kind, const std::string& host, Instant now) {
    Cookie cookie;
    cookie.kind = kind;
    std::string maxAge;
    bool first = true;
    bool haveDomain = false;
    while (true) {
        const std::size_t semi = text.find(';');
        const std::string_view item = Trim(text.substr(0, semi));
        const std::size_t eq = item.find('=');
        const std::string_view name = eq == std::string_view::npos ? item : item.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        if (first) {
            cookie.name = std::string(name);
            cookie.value = std::string(value);
            first = false;
        } else {
            const std::string attribute = AsciiUpper(name);
            if (attribute == "PATH") {
                cookie.path = StripQuotes(value);
            } else if (attribute == "EXPIRES") {
                cookie.expires = std::string(value);
            } else if (attribute == "DOMAIN") {
                // An empty Domain would fit every host; it counts as absent.
                if (!value.empty()) {
                    cookie.domain = std::string(value);
                    haveDomain = true;
                }
            } else if (attribute == "SECURE") {
                cookie.secure = true;
            } else if (attribute == "MAX-AGE") {
                maxAge = std::string(value);
            } else if (attribute == "VERSION") {
                cookie.version = std::string(value);
            } else if (attribute == "COMMENT") {
                cookie.comment = std::string(value);
            }
        }
        if (semi == std::string_view::npos) {
            break;
        }
        text.remove_prefix(semi + 1);
    }
    if (cookie.expires.empty() && !maxAge.empty()) {
        const auto seconds = ParseDecimal(Trim(maxAge));
        if (seconds && *seconds >= 0) {
            const std::int64_t nowSeconds = Seconds(now);
            if (*seconds > kLatest - nowSeconds) {
                cookie.expiresAt = AtSecond(kLatest);
            } else {
                cookie.expiresAt = now + std::chrono::seconds(*seconds);
            }
            cookie.expires = FormatHttpDate(std::time_t(Seconds(*cookie.expiresAt)));
        }
    } else if (!cookie.expires.empty()) {
        // A date the store cannot read counts as no date: the cookie is kept for the session.
        if (const auto when = ParseHttpDate(cookie.expires)) {
            cookie.expiresAt = AtSecond(std::min<std::int64_t>(*when, kLatest));
        }
    }
    if (!haveDomain) {
        cookie.domain = host;
    }
    return cookie;
}

// A cookie that ends at this very moment is not sent any more either.
bool Expired(const Cookie& cookie, Instant now) {
    return cookie.expiresAt && *cookie.expiresAt <= now;
}

} // namespace

CookieStore::CookieStore(Clock now) : now_(std::move(now)) {}

void CookieStore::SetClock(Clock now) {
    std::unique_lock guard(lock_);
    now_ = std::move(now);
}

Instant CookieStore::Now() const {
    return std::chrono::floor<std::chrono::microseconds>(now_ ? now_()
                                                              : std::chrono::system_clock::now());
}

void CookieStore::Store(const std::vector<std::string>& headerLines, const std::string& host,
                        const std::string& path) {
    (void)path; // a cookie without Path keeps an empty path (and is then never sent)
    const auto headers = ParseHeaderLines(headerLines);
    std::unique_lock guard(lock_);
    const Instant now = Now();
    for (const auto& [name, value] : headers) {
        int kind = 0;
        if (EqualsNoCase(name, "Set-cookie")) {
            kind = 1;
        } else if (EqualsNoCase(name, "Set-cookie2")) {
            kind = 2;
        }
        if (kind == 0 || value.size() > kMaxCookieText) {
            continue;
        }
        Cookie cookie = ParseCookie(value, kind, host, now);
        if (DomainFits(cookie.domain, host)) {
            Take(std::move(cookie));
        }
    }
}

void CookieStore::Take(Cookie cookie) {
    const std::string key = cookie.domain + cookie.path;
    auto it = byKey_.find(key);
    if (it != byKey_.end()) {
        for (Cookie& old : it->second) {
            if (old.name == cookie.name) {
                old = std::move(cookie);
                return;
            }
        }
    }
    if (count_ >= kMaxCookies || (it != byKey_.end() && it->second.size() >= kMaxCookiesPerKey)) {
        return;
    }
    byKey_[key].push_back(std::move(cookie));
    ++count_;
}

std::string CookieStore::CookieHeader(const std::string& host, const std::string& path) {
    {
        std::unique_lock guard(lock_);
        const Instant now = Now();
        for (auto it = byKey_.begin(); it != byKey_.end();) {
            auto& list = it->second;
            const std::size_t before = list.size();
            std::erase_if(list, [now](const Cookie& c) { return Expired(c, now); });
            count_ -= before - list.size();
            it = list.empty() ? byKey_.erase(it) : std::next(it);
        }
    }
    std::shared_lock guard(lock_);
    const std::string where = AsciiUpper(host + path);
    std::vector<const Cookie*> taken;
    for (const auto& [key, list] : byKey_) {
        if (where.find(AsciiUpper(key)) == std::string::npos) {
            continue;
        }
        for (const Cookie& c : list) {
            if (!c.path.empty() && path.compare(0, c.path.size(), c.path) == 0 &&
                !c.value.empty() && !c.secure) {
                taken.push_back(&c);
            }
        }
    }
    std::stable_sort(taken.begin(), taken.end(), [](const Cookie* a, const Cookie* b) {
        return AsciiUpper(a->path) > AsciiUpper(b->path);
    });
    std::string header;
    for (const Cookie* c : taken) {
        if (!header.empty()) {
            header += "; ";
        }
        header += c->name + "=" + c->value;
    }
    return header;
}

std::size_t CookieStore::Count() const {
    std::shared_lock guard(lock_);
    return count_;
}

std::vector<Cookie> CookieStore::All() const {
    std::shared_lock guard(lock_);
    std::vector<Cookie> out;
    for (const auto& [key, list] : byKey_) {
        out.insert(out.end(), list.begin(), list.end());
    }
    return out;
}

} // namespace glimmerly::net
