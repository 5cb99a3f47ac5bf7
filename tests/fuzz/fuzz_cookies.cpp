// Arbitrary header blocks into the cookie store, then the Cookie header for a few requests.
// The first line is the request host.

#include "net/cookie_store.h"
#include "net/http_text.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using namespace glimmerly::net;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    const std::string host = lines.front();
    lines.erase(lines.begin());

    auto now = std::chrono::system_clock::from_time_t(1796558400);
    CookieStore store([&] { return now; });
    store.Store(lines, host, "/a/");
    store.Store(lines, "localhost", "/");
    (void)store.CookieHeader(host, "/a/b/");
    now += std::chrono::hours(24);
    (void)store.CookieHeader("localhost", "/");
    for (const Cookie& c : store.All()) {
        (void)ParseHttpDate(c.expires);
    }
    for (const std::string& line : FoldHeaderLine("Cookie: " + text)) {
        (void)line;
    }
    (void)ParseUrl(text).Target();
    return 0;
}
