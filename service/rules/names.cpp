#include "service/rules/names.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace glimmerly::service {

namespace {

// The ASCII spelling of a Windows-1252 letter outside ASCII, or nullptr when the byte is no
// letter. Upper- and lower-case forms spell the same; the caller lower-cases ASCII itself.
const char* Transliterate(unsigned char c) {
    switch (c) {
    case 0xC4:
    case 0xE4:
        return "ae";
    case 0xD6:
    case 0xF6:
        return "oe";
    case 0xDC:
    case 0xFC:
        return "ue";
    case 0xDF:
        return "ss";
    case 0xC6:
    case 0xE6:
        return "ae";
    case 0x8C:
    case 0x9C:
        return "oe";
    case 0xC0:
    case 0xC1:
    case 0xC2:
    case 0xC3:
    case 0xC5:
    case 0xE0:
    case 0xE1:
    case 0xE2:
    case 0xE3:
    case 0xE5:
        return "a";
    case 0xC7:
    case 0xE7:
        return "c";
    case 0xC8:
    case 0xC9:
    case 0xCA:
    case 0xCB:
    case 0xE8:
    case 0xE9:
    case 0xEA:
    case 0xEB:
        return "e";
    case 0xCC:
    case 0xCD:
    case 0xCE:
    case 0xCF:
    case 0xEC:
    case 0xED:
    case 0xEE:
    case 0xEF:
        return "i";
    case 0xD0:
    case 0xF0:
        return "d";
    case 0xD1:
    case 0xF1:
        return "n";
    case 0xD2:
    case 0xD3:
    case 0xD4:
    case 0xD5:
    case 0xD8:
    case 0xF2:
    case 0xF3:
    case 0xF4:
    case 0xF5:
    case 0xF8:
        return "o";
    case 0xD9:
    case 0xDA:
    case 0xDB:
    case 0xF9:
    case 0xFA:
    case 0xFB:
        return "u";
    case 0xDD:
    case 0xFD:
    case 0xFF:
    case 0x9F:
        return "y";
    case 0xDE:
    case 0xFE:
        return "th";
    case 0x8A:
    case 0x9A:
        return "s";
    case 0x8E:
    case 0x9E:
        return "z";
    default:
        return nullptr;
    }
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// count characters of alphabet drawn from the kernel's random source. A byte is taken only
// below the largest multiple of the alphabet's size, so every character is equally likely.
std::string RandomChars(std::string_view alphabet, int count) {
    const unsigned size = static_cast<unsigned>(alphabet.size());
    const unsigned limit = 256 - 256 % size;
    std::string out;
    unsigned char bytes[64];
    while (out.size() < static_cast<std::size_t>(count)) {
        ssize_t n = ::getrandom(bytes, sizeof bytes, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error(std::string("getrandom: ") + std::strerror(errno));
        }
        for (ssize_t i = 0; i < n && out.size() < static_cast<std::size_t>(count); ++i) {
            if (bytes[i] < limit) {
                out += alphabet[bytes[i] % size];
            }
        }
    }
    return out;
}

} // namespace

std::string MakePictureName(std::string_view typed) {
    std::string out;
    bool gap = false;
    auto append = [&](std::string_view piece) {
        if (gap && !out.empty()) {
            out += '_';
        }
        gap = false;
        out += piece;
    };
    for (char ch : typed) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 'A' && c <= 'Z') {
            append(std::string(1, static_cast<char>(c - 'A' + 'a')));
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') {
            append(std::string(1, static_cast<char>(c)));
        } else if (const char* spelled = Transliterate(c)) {
            append(spelled);
        } else {
            gap = true;
        }
    }
    // Trim separators at both ends, then cut and trim again so a cut never ends in "-".
    auto trim = [](std::string& s) {
        std::size_t b = s.find_first_not_of("_-");
        if (b == std::string::npos) {
            s.clear();
            return;
        }
        std::size_t e = s.find_last_not_of("_-");
        s = s.substr(b, e - b + 1);
    };
    trim(out);
    if (out.size() > kMaxPictureNameLength) {
        out.resize(kMaxPictureNameLength);
        trim(out);
    }
    return out;
}

bool IsPictureName(std::string_view name) {
    if (name.empty() || name.size() > 80) {
        return false;
    }
    for (char c : name) {
        if (!IsNameChar(c)) {
            return false;
        }
    }
    return true;
}

bool IsSessionName(std::string_view name) {
    if (name.empty() || name.size() > kMaxSessionNameLength) {
        return false;
    }
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string RandomPictureName() {
    return RandomChars("abcdefghijkmnpqrstuvwxyz23456789", 8);
}

std::string RandomToken() {
    return RandomChars("0123456789abcdef", 32);
}

bool IsToken(std::string_view text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace glimmerly::service
