#pragma once
// What a request handler of the Server gets and gives: the state of one exchange and the reply
// (a text, a page, a file or a live-update stream) that the daemon side sends.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <microhttpd.h>

#include "service/http/event_stream.h"
#include "text/cp1252.h"

namespace glimmerly::service {

inline constexpr const char* kTextType = "text/plain; charset=windows-1252";
inline constexpr const char* kHtmlType = "text/html; charset=utf-8";

struct Exchange {
    std::string rawTarget;
    bool started = false;
    std::string body;
    std::size_t received = 0;
    bool overflow = false;
    // For the access log.
    const char* host = "";
    std::chrono::steady_clock::time_point begun = std::chrono::steady_clock::now();
    std::string method;
    unsigned status = 0; // of the reply queued, 0 before
    std::optional<std::uint64_t> bytes;
    std::string cause;
    std::string hostHeader; // the Host header
    std::string cookie;     // the Cookie header
};

struct Reply {
    unsigned status = MHD_HTTP_OK;
    std::string contentType = kTextType;
    std::string body;
    int fd = -1; // a file to send instead of body
    std::uint64_t fdSize = 0;
    EventStream* events = nullptr;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string cause; // why a 500 or 503 is answered, for the access log

    static Reply Text(std::string_view utf8, unsigned status = MHD_HTTP_OK) {
        Reply r;
        r.status = status;
        r.body = cp1252::FromUtf8(utf8);
        return r;
    }
    static Reply Html(std::string page, unsigned status = MHD_HTTP_OK) {
        Reply r;
        r.status = status;
        r.contentType = kHtmlType;
        r.body = std::move(page);
        return r;
    }
};

} // namespace glimmerly::service
