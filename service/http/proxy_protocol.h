#pragma once
// The PROXY protocol header (versions 1 and 2) that a load balancer such as haproxy sends first on
// every connection it opens to an instance ("send-proxy" / "send-proxy-v2"): it names the client
// the balancer accepted, so limits and logs see the real client address instead of the
// balancer's. Only TCP over IPv4 and IPv6 carries an address; LOCAL connections (the balancer's
// own health checks) and UNKNOWN ones keep the connection's own address.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace glimmerly::service {

struct ProxyHeader {
    enum class Status {
        Incomplete, // the bytes so far are a valid beginning; read more
        Invalid,    // not a PROXY header: the connection is closed
        Complete,
    };
    Status status = Status::Incomplete;
    std::size_t length = 0; // bytes of the header, when complete
    // The client's address, when the header carries one (family 4 or 6, else 0).
    int family = 0;
    std::array<std::uint8_t, 16> address{}; // network order; the first 4 bytes for IPv4
    std::uint16_t port = 0;                 // host order
};

// Longest header worth waiting for: a version 1 line is at most 107 bytes; a version 2 header of
// TCP over IPv6 is 52, and its optional extensions (TLVs) are read and skipped up to this size.
inline constexpr std::size_t kMaxProxyHeader = 536;

// Parses the first bytes a connection sent.
ProxyHeader ParseProxyHeader(std::string_view bytes);

} // namespace glimmerly::service
