// The PROXY protocol header a balancer puts before a connection's first request: the client
// address it carries, its exact length (the request behind it stays untouched), and what is no
// header at all.

#include "service/http/proxy_protocol.h"

#include <string>

#include <gtest/gtest.h>

namespace glimmerly::service {
namespace {

using Status = ProxyHeader::Status;

std::string V2(unsigned command, unsigned familyTransport, const std::string& payload) {
    std::string h("\r\n\r\n\0\r\nQUIT\n", 12);
    h += static_cast<char>(0x20 | command);
    h += static_cast<char>(familyTransport);
    h += static_cast<char>(payload.size() >> 8);
    h += static_cast<char>(payload.size() & 0xff);
    return h + payload;
}

TEST(ProxyProtocolTest, VersionOneGivesTheClientAddressAndLeavesTheRequestBehindIt) {
    const std::string line = "PROXY TCP4 203.0.113.7 10.0.0.11 51234 8461\r\n";
    ProxyHeader h = ParseProxyHeader(line + "POST /upload.php HTTP/1.0\r\n");
    ASSERT_EQ(h.status, Status::Complete);
    EXPECT_EQ(h.length, line.size());
    EXPECT_EQ(h.family, 4);
    EXPECT_EQ(h.address[0], 203);
    EXPECT_EQ(h.address[3], 7);
    EXPECT_EQ(h.port, 51234);

    h = ParseProxyHeader("PROXY TCP6 2001:db8::5 2001:db8::1 65535 80\r\nGET");
    ASSERT_EQ(h.status, Status::Complete);
    EXPECT_EQ(h.family, 6);
    EXPECT_EQ(h.address[0], 0x20);
    EXPECT_EQ(h.address[15], 5);
    EXPECT_EQ(h.port, 65535);

    // The balancer does not know the client: the connection keeps its own address.
    h = ParseProxyHeader("PROXY UNKNOWN\r\nGET / HTTP/1.1\r\n");
    ASSERT_EQ(h.status, Status::Complete);
    EXPECT_EQ(h.length, 15u);
    EXPECT_EQ(h.family, 0);
}

// The longest version 1 line is 107 bytes with its CR LF ("PROXY UNKNOWN" and two IPv6 addresses
// and ports); a connection whose first 107 bytes hold no line end is no balancer's.
TEST(ProxyProtocolTest, VersionOneLinesUpToTheLongestThereIs) {
    const std::string longest = "PROXY UNKNOWN " + std::string(91, 'f') + "\r\n";
    ASSERT_EQ(longest.size(), 107u);
    ProxyHeader h = ParseProxyHeader(longest + "GET / HTTP/1.1\r\n");
    ASSERT_EQ(h.status, Status::Complete);
    EXPECT_EQ(h.length, 107u);
    const std::string tooLong = "PROXY UNKNOWN " + std::string(92, 'f') + "\r\n";
    EXPECT_EQ(ParseProxyHeader(tooLong + "GET / HTTP/1.1\r\n").status, Status::Invalid);

    // Without its line end so far: worth waiting for while the line can still end in time.
    EXPECT_EQ(ParseProxyHeader(longest.substr(0, 106)).status, Status::Incomplete);
    EXPECT_EQ(ParseProxyHeader(tooLong.substr(0, 106)).status, Status::Incomplete);
    EXPECT_EQ(ParseProxyHeader(tooLong.substr(0, 107)).status, Status::Invalid);
}

// A version 2 header with its extensions may take 536 bytes, which the listener reads at most.
TEST(ProxyProtocolTest, VersionTwoHeadersUpToTheLargestTaken) {
    const std::string v4 = {'\xc6', '\x33', '\x64', '\x09', 10, 0, 0, 11, 0, 80, 0, 80};
    ProxyHeader h = ParseProxyHeader(V2(1, 0x11, v4 + std::string(508, '\0')));
    ASSERT_EQ(h.status, Status::Complete);
    EXPECT_EQ(h.length, kMaxProxyHeader);
    EXPECT_EQ(h.family, 4);
    EXPECT_EQ(ParseProxyHeader(V2(1, 0x11, v4 + std::string(509, '\0'))).status, Status::Invalid);
    // Already known from its length field, before the rest arrives.
    EXPECT_EQ(ParseProxyHeader(V2(1, 0x11, v4 + std::string(509, '\0')).substr(0, 16)).status,
              Status::Invalid);
}

TEST(ProxyProtocolTest, VersionTwoCarriesAddressesOrNoneForTheBalancersOwnChecks) {
    std::string v4 = {'\xc6', '\x33', '\x64', '\x09', 10, 0, 0, 11, '\x1f', '\x90', 0x21, 0x0d};
    std::string header = V2(1, 0x11, v4);
    ProxyHeader h = ParseProxyHeader(header + "GET / HTTP/1.1\r\n");
    ASSERT_EQ(h.status, Status::Complete);
    EXPECT_EQ(h.length, 28u);
    EXPECT_EQ(h.family, 4);
    EXPECT_EQ(h.address[0], 198);
    EXPECT_EQ(h.address[3], 9);
    EXPECT_EQ(h.port, 8080);

    // Extensions after the addresses belong to the header.
    h = ParseProxyHeader(V2(1, 0x11, v4 + std::string("\x04\x00\x01\x00", 4)));
    EXPECT_EQ(h.length, 32u);
    EXPECT_EQ(h.family, 4);

    std::string v6(36, '\0');
    v6[0] = '\x20';
    v6[15] = 9;
    v6[32] = 1;
    v6[33] = 2;
    h = ParseProxyHeader(V2(1, 0x21, v6));
    ASSERT_EQ(h.status, Status::Complete);
    EXPECT_EQ(h.family, 6);
    EXPECT_EQ(h.address[15], 9);
    EXPECT_EQ(h.port, 0x0102);

    h = ParseProxyHeader(V2(0, 0x00, ""));
    ASSERT_EQ(h.status, Status::Complete);
    EXPECT_EQ(h.length, 16u);
    EXPECT_EQ(h.family, 0);
    // A datagram transport or a local socket: no address to take.
    EXPECT_EQ(ParseProxyHeader(V2(1, 0x12, v4)).family, 0);
}

TEST(ProxyProtocolTest, EveryPrefixOfAHeaderAsksForMore) {
    std::string v1 = "PROXY TCP4 192.0.2.1 192.0.2.2 1 2\r\n";
    std::string v2 = V2(1, 0x11, std::string(12, '\x01'));
    for (const std::string& whole : {v1, v2}) {
        for (std::size_t n = 0; n < whole.size(); ++n) {
            EXPECT_EQ(ParseProxyHeader(whole.substr(0, n)).status, Status::Incomplete)
                << n << " of " << whole.size();
        }
        EXPECT_EQ(ParseProxyHeader(whole).status, Status::Complete);
    }
}

TEST(ProxyProtocolTest, AnythingElseIsRefused) {
    for (const std::string& bad : {
             std::string("GET / HTTP/1.1\r\n\r\n"),
             std::string("POST /upload.php HTTP/1.0\r\n"),
             std::string("PROXY TCP4 192.0.2.1 192.0.2.2 1 2\n"),       // LF alone
             std::string("PROXY UNKNOWN x\ny\r\n"),                     // LF inside
             std::string("PROXY TCP4 192.0.2.1 192.0.2.2 1 2\r\r\n"),   // CR inside
             std::string("PROXY TCP4 192.0.2.1 192.0.2.2 1\r\n"),       // a port missing
             std::string("PROXY TCP4 192.0.2.1 192.0.2.2 1 2 3\r\n"),   // one field too many
             std::string("PROXY TCP4 192.0.2.1  192.0.2.2 1 2\r\n"),    // an empty field
             std::string("PROXY TCP4 192.0.2.256 192.0.2.2 1 2\r\n"),   // no address
             std::string("PROXY TCP4 2001:db8::1 192.0.2.2 1 2\r\n"),   // the wrong family
             std::string("PROXY TCP4 192.0.2.1 192.0.2.2 65536 2\r\n"), // port too large
             std::string("PROXY TCP4 192.0.2.1 192.0.2.2 +1 2\r\n"),    // a sign
             std::string("PROXY TCP4 192.0.2.1 192.0.2.2 01 2\r\n"),    // a leading zero
             std::string("PROXY UDP4 192.0.2.1 192.0.2.2 1 2\r\n"),     // no such protocol
             std::string("PROXY TCP4 ") + std::string(120, '1'),        // a line without end
             V2(2, 0x11, std::string(12, '\x01')),                      // no such command
             V2(1, 0x11, std::string(11, '\x01')),                      // addresses cut short
             V2(1, 0x21, std::string(35, '\x01')),                      // IPv6 cut short
             V2(1, 0x11, std::string(600, '\x01')),                     // longer than we wait for
             std::string("\r\n\r\n\0\r\nQUIT\n\x11\x11\0\0", 16),       // version 1 in binary
         }) {
        EXPECT_EQ(ParseProxyHeader(bad).status, Status::Invalid) << bad;
    }
}

} // namespace
} // namespace glimmerly::service
