#include "service/http/owner_token.h"

#include <array>
#include <cstdint>
#include <vector>

#include "service/http/request.h"
#include "service/rules/names.h"

namespace glimmerly::service {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotate(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void Compress(std::array<std::uint32_t, 8>& h, const unsigned char* block) {
    std::array<std::uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i) {
        w[i] = std::uint32_t(block[4 * i]) << 24 | std::uint32_t(block[4 * i + 1]) << 16 |
               std::uint32_t(block[4 * i + 2]) << 8 | std::uint32_t(block[4 * i + 3]);
    }
    for (int i = 16; i < 64; ++i) {
        std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = h;
    for (int i = 0; i < 64; ++i) {
        std::uint32_t s1 = Rotate(v[4], 6) ^ Rotate(v[4], 11) ^ Rotate(v[4], 25);
        std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        std::uint32_t t1 = v[7] + s1 + choice + kRound[i] + w[i];
        std::uint32_t s0 = Rotate(v[0], 2) ^ Rotate(v[0], 13) ^ Rotate(v[0], 22);
        std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        std::uint32_t t2 = s0 + majority;
        v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (int i = 0; i < 8; ++i) {
        h[i] += v[i];
    }
}

// The host of a Host header or host[:port]; empty for a bracketed (IPv6) address.
std::string_view HostOnly(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        return {};
    }
    return host.substr(0, host.find(':'));
}

bool IsNumeric(std::string_view host) {
    return host.find_first_not_of("0123456789.") == std::string_view::npos;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The labels the two hosts end in alike ("example.de" of "up.example.de" and
// "www.example.de"), spelled as in a; empty when they share fewer than two.
std::string_view SharedParent(std::string_view a, std::string_view b) {
    std::size_t i = a.size();
    std::size_t j = b.size();
    std::size_t cut = std::string_view::npos; // where the shared labels begin in a
    int labels = 0;
    while (i > 0 && j > 0 && Lower(a[i - 1]) == Lower(b[j - 1])) {
        --i;
        --j;
        bool boundaryA = i == 0 || a[i - 1] == '.';
        bool boundaryB = j == 0 || b[j - 1] == '.';
        if (boundaryA && boundaryB && a[i] != '.') {
            ++labels;
            cut = i;
        }
    }
    return labels >= 2 ? a.substr(cut) : std::string_view();
}

} // namespace

std::string Sha256Hex(std::string_view bytes) {
    std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::vector<unsigned char> data(bytes.begin(), bytes.end());
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
    data.push_back(0x80);
    while (data.size() % 64 != 56) {
        data.push_back(0);
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
        data.push_back(static_cast<unsigned char>(bits >> shift));
    }
    for (std::size_t at = 0; at < data.size(); at += 64) {
        Compress(h, data.data() + at);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::uint32_t word : h) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            out += kHex[(word >> shift) & 0xf];
        }
    }
    return out;
}

std::optional<std::string> OwnerTokenFromCookies(std::string_view header) {
    while (!header.empty()) {
        std::size_t semi = header.find(';');
        std::string_view item = TrimBlanks(header.substr(0, semi));
        std::size_t eq = item.find('=');
        if (eq != std::string_view::npos && TrimBlanks(item.substr(0, eq)) == kOwnerCookieName) {
            std::string_view value = TrimBlanks(item.substr(eq + 1));
            if (IsToken(value)) {
                return std::string(value);
            }
        }
        if (semi == std::string_view::npos) {
            break;
        }
        header.remove_prefix(semi + 1);
    }
    return std::nullopt;
}

std::string OwnerKey(std::string_view token) {
    return Sha256Hex(token);
}

std::string OwnerCookie(std::string_view token, std::string_view uploadHost,
                        std::string_view serviceHost) {
    std::string cookie = std::string(kOwnerCookieName) + "=" + std::string(token) +
                         "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Lax";
    std::string_view upload = HostOnly(uploadHost);
    std::string_view service = HostOnly(serviceHost);
    // A cookie for a numeric address must name exactly it, as one without Domain does; a
    // parent domain "example.de" (no leading dot) also reaches the host example.de itself.
    if (!upload.empty() && !service.empty() && !IsNumeric(upload) && !IsNumeric(service)) {
        std::string_view parent = SharedParent(upload, service);
        if (!parent.empty()) {
            cookie += "; Domain=" + std::string(parent);
        }
    }
    return cookie;
}

} // namespace glimmerly::service
