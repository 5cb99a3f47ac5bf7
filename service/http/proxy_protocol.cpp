#include "service/http/proxy_protocol.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace glimmerly::service {

namespace {

using Status = ProxyHeader::Status;

constexpr std::string_view kV1Start = "PROXY ";
constexpr std::size_t kV1MaxLine = 107; // "PROXY UNKNOWN" with two IPv6 addresses and ports, CR LF
constexpr std::string_view kV2Signature{"\r\n\r\n\0\r\nQUIT\n", 12};

ProxyHeader Invalid() {
    ProxyHeader h;
    h.status = Status::Invalid;
    return h;
}

// A decimal port without sign or leading zeros, 0..65535.
bool ParsePortText(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

// "PROXY TCP4 SRC DST SPORT DPORT\r\n", "PROXY TCP6 …" or "PROXY UNKNOWN …\r\n".
ProxyHeader ParseV1(std::string_view bytes) {
    std::size_t end = bytes.find("\r\n");
    if (end == std::string_view::npos) {
        // A line without CR LF within the longest one there is, or a lone LF, is no header.
        if (bytes.size() >= kV1MaxLine || bytes.find('\n') != std::string_view::npos) {
            return Invalid();
        }
        return {};
    }
    if (end + 2 > kV1MaxLine) {
        return Invalid();
    }
    std::string_view line = bytes.substr(kV1Start.size(), end - kV1Start.size());
    if (line.find_first_of("\r\n") != std::string_view::npos) {
        return Invalid(); // a lone CR or LF ends no line, nor is it part of one
    }
    ProxyHeader h;
    h.status = Status::Complete;
    h.length = end + 2;
    if (line == "UNKNOWN" || line.substr(0, 8) == "UNKNOWN ") {
        return h; // the balancer does not know the client: keep the connection's address
    }
    // Exactly five fields, each separated by one blank.
    std::string_view fields[5];
    std::size_t count = 0;
    std::size_t pos = 0;
    for (;;) {
        std::size_t blank = line.find(' ', pos);
        std::size_t end = blank == std::string_view::npos ? line.size() : blank;
        if (end == pos || count == 5) {
            return Invalid();
        }
        fields[count++] = line.substr(pos, end - pos);
        if (blank == std::string_view::npos) {
            break;
        }
        pos = blank + 1;
    }
    if (count != 5) {
        return Invalid();
    }
    int family = fields[0] == "TCP4" ? AF_INET : fields[0] == "TCP6" ? AF_INET6 : 0;
    if (!family) {
        return Invalid();
    }
    std::string source(fields[1]);
    std::string destination(fields[2]);
    std::array<std::uint8_t, 16> ignored{};
    std::uint16_t destinationPort = 0;
    if (inet_pton(family, source.c_str(), h.address.data()) != 1 ||
        inet_pton(family, destination.c_str(), ignored.data()) != 1 ||
        !ParsePortText(fields[3], h.port) || !ParsePortText(fields[4], destinationPort)) {
        return Invalid();
    }
    h.family = family == AF_INET ? 4 : 6;
    return h;
}

// The binary header: signature, version and command, family and protocol, length, addresses.
ProxyHeader ParseV2(std::string_view bytes) {
    if (bytes.size() < 16) {
        return {};
    }
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const unsigned version = byte(12) >> 4;
    const unsigned command = byte(12) & 0x0f;
    if (version != 2 || command > 1) {
        return Invalid();
    }
    const std::size_t payload = static_cast<std::size_t>(byte(14)) << 8 | byte(15);
    if (16 + payload > kMaxProxyHeader) {
        return Invalid();
    }
    if (bytes.size() < 16 + payload) {
        return {};
    }
    ProxyHeader h;
    h.status = Status::Complete;
    h.length = 16 + payload;
    if (command == 0) {
        return h; // LOCAL: the balancer's own connection, e.g. a health check
    }
    const unsigned family = byte(13) >> 4;
    const unsigned transport = byte(13) & 0x0f;
    if (transport != 1) { // only STREAM; anything else keeps the connection's address
        return h;
    }
    if (family == 1) { // IPv4: source, destination, source port, destination port
        if (payload < 12) {
            return Invalid();
        }
        std::memcpy(h.address.data(), bytes.data() + 16, 4);
        h.port = static_cast<std::uint16_t>(byte(24) << 8 | byte(25));
        h.family = 4;
    } else if (family == 2) { // IPv6
        if (payload < 36) {
            return Invalid();
        }
        std::memcpy(h.address.data(), bytes.data() + 16, 16);
        h.port = static_cast<std::uint16_t>(byte(48) << 8 | byte(49));
        h.family = 6;
    }
    return h;
}

} // namespace

ProxyHeader ParseProxyHeader(std::string_view bytes) {
    std::size_t v1 = std::min(bytes.size(), kV1Start.size());
    std::size_t v2 = std::min(bytes.size(), kV2Signature.size());
    if (bytes.substr(0, v1) == kV1Start.substr(0, v1) && !bytes.empty() && bytes[0] == 'P') {
        return bytes.size() < kV1Start.size() ? ProxyHeader{} : ParseV1(bytes);
    }
    if (bytes.substr(0, v2) == kV2Signature.substr(0, v2)) {
        return bytes.size() < kV2Signature.size() ? ProxyHeader{} : ParseV2(bytes);
    }
    return Invalid();
}

} // namespace glimmerly::service
