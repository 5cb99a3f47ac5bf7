// Arbitrary first bytes of a connection into the PROXY header parser. A header it accepts lies
// within the bytes and the size it waits for, reads the same from its own bytes alone, and stays
// the same whatever follows it; what it refuses stays refused however many bytes follow.

#include "service/http/proxy_protocol.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace glimmerly::service;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool Same(const ProxyHeader& a, const ProxyHeader& b) {
    return a.status == b.status && a.length == b.length && a.family == b.family &&
           a.address == b.address && a.port == b.port;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ProxyHeader h = ParseProxyHeader(bytes);
    const std::string longer = std::string(bytes) + "GET / HTTP/1.1\r\n";
    switch (h.status) {
    case ProxyHeader::Status::Complete:
        Check(h.length > 0 && h.length <= size && h.length <= kMaxProxyHeader);
        Check(Same(ParseProxyHeader(bytes.substr(0, h.length)), h));
        Check(Same(ParseProxyHeader(longer), h));
        break;
    case ProxyHeader::Status::Invalid:
        Check(ParseProxyHeader(longer).status == ProxyHeader::Status::Invalid);
        Check(h.family == 0);
        break;
    case ProxyHeader::Status::Incomplete:
        Check(size < kMaxProxyHeader && h.family == 0);
        break;
    }
    Check(h.family == 0 || h.family == 4 || h.family == 6);
    return 0;
}
