// Arbitrary addresses into the client's URL splitting (the server hands back the address that a
// later request is sent to). Checks that the parts are cut from the address as it stands:
// backslashes become "/", a fragment is cut, nothing else is added, dropped or re-encoded, and
// the parts put together again split the same way.

#include "net/http_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace glimmerly::net;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool Has(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

bool Has(std::string_view text, char c) {
    return text.find(c) != std::string_view::npos;
}

bool SameParts(const ParsedUrl& a, const ParsedUrl& b) {
    return a.protocol == b.protocol && a.host == b.host && a.port == b.port && a.path == b.path &&
           a.document == b.document && a.params == b.params;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const ParsedUrl parsed = ParseUrl(url);
    const std::string target = parsed.Target();

    std::string slashed = url;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');

    // The parts each keep to their own piece of the address.
    Check(!parsed.protocol.empty());
    for (const std::string* part : {&parsed.protocol, &parsed.host, &parsed.port, &parsed.path,
                                    &parsed.document, &parsed.params}) {
        Check(!Has(*part, '\\'));
    }
    Check(!Has(parsed.host, '/') && !Has(parsed.host, ':') && !Has(parsed.host, '@'));
    Check(!Has(parsed.port, '/') && !Has(parsed.port, '@'));
    Check(parsed.path.front() == '/' && parsed.path.back() == '/' && !Has(parsed.path, '?'));
    Check(!Has(parsed.document, '/') && !Has(parsed.document, '?') && !Has(parsed.document, '#'));
    Check(parsed.params.empty() || parsed.params.front() == '?' || parsed.params.front() == '=');
    if (!Has(slashed, '?')) {
        Check(!Has(parsed.path, '=') && !Has(parsed.document, '='));
    }

    // The request target as the address has it: after the authority (or the whole address
    // without a scheme, its leading "/" counted once).
    std::string whole;
    const std::size_t scheme = slashed.find("://");
    if (scheme != std::string::npos) {
        Check(parsed.protocol == (scheme == 0 ? "http" : slashed.substr(0, scheme)));
        const std::string after = slashed.substr(scheme + 3);
        const std::size_t slash = after.find('/');
        std::string authority = after.substr(0, slash);
        const std::size_t at = authority.rfind('@');
        if (at != std::string::npos) {
            authority.erase(0, at + 1);
        }
        Check(authority == parsed.host || authority == parsed.host + ":" + parsed.port);
        whole = slash == std::string::npos ? "/" : after.substr(slash);
    } else {
        Check(parsed.protocol == "http" && parsed.host.empty() && parsed.port.empty());
        whole = "/" + (!slashed.empty() && slashed.front() == '/' ? slashed.substr(1) : slashed);
    }
    if (!Has(whole, '#')) {
        Check(target == whole);
    } else if (target == whole) {
        // Every "#" stands in the path, before the last "/".
        Check(!Has(parsed.params, '#'));
    } else {
        // One fragment cut: a piece that starts with "#" and reaches to the end of the document
        // (where the query starts) or to the end of the query.
        Check(target.size() < whole.size());
        const std::size_t same =
            std::mismatch(target.begin(), target.end(), whole.begin()).first - target.begin();
        Check(whole[same] == '#');
        const std::string_view rest = std::string_view(target).substr(same);
        Check(std::string_view(whole).ends_with(rest));
        const std::string_view cut =
            std::string_view(whole).substr(same, whole.size() - target.size());
        if (!rest.empty()) {
            Check((rest.front() == '?' || rest.front() == '=') && !Has(cut, '?'));
        }
    }

    // Put together again, the parts split the same way (unless a second fragment is left in the
    // query, which the next split would cut).
    if (!Has(target, '#')) {
        const std::string again = parsed.protocol + "://" + parsed.host +
                                  (parsed.port.empty() ? "" : ":" + parsed.port) + target;
        Check(SameParts(ParseUrl(again), parsed));
    }
    return 0;
}
