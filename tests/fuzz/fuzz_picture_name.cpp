// Arbitrary typed names (Windows-1252 bytes) into the service's picture-name rule. What comes out
// is empty or a name the service accepts, also with the "-2", "-3", ... it appends; the rule
// leaves its own names as they are and does not care how a letter is cased.

#include "service/rules/names.h"

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

bool IsNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool AllNameBytes(std::string_view text) {
    for (const char c : text) {
        if (!IsNameByte(c)) {
            return false;
        }
    }
    return true;
}

bool IsSeparator(char c) {
    return c == '_' || c == '-';
}

// The lower-case form of a Windows-1252 letter; other bytes stay.
char Lower(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return static_cast<char>(c + 0x20);
    }
    if (c == 0x8A || c == 0x8C || c == 0x8E) {
        return static_cast<char>(c + 0x10);
    }
    if (c == 0x9F) {
        return static_cast<char>(0xFF);
    }
    return ch;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view typed(reinterpret_cast<const char*>(data), size);
    const std::string name = MakePictureName(typed);

    Check(name.size() <= kMaxPictureNameLength);
    Check(AllNameBytes(name));
    Check(name.empty() || IsPictureName(name));
    if (!name.empty()) {
        Check(!IsSeparator(name.front()) && !IsSeparator(name.back()));
        Check(IsPictureName(name + "-" + std::to_string(size + 2)));
    }
    // A run of other characters leaves one "_".
    Check(name.find("__") == std::string::npos);
    Check(MakePictureName(name) == name);

    std::string lowered(typed);
    for (char& c : lowered) {
        c = Lower(c);
    }
    Check(MakePictureName(lowered) == name);

    // A name the rule could have made comes back as it is.
    const bool wellFormed = !typed.empty() && typed.size() <= kMaxPictureNameLength &&
                            AllNameBytes(typed) && !IsSeparator(typed.front()) &&
                            !IsSeparator(typed.back()) && typed.find("__") == std::string::npos;
    if (wellFormed) {
        Check(name == typed);
    }

    // What the service accepts: 1 to 80 of a-z, 0-9, "_", "-".
    Check(IsPictureName(typed) == (!typed.empty() && typed.size() <= 80 && AllNameBytes(typed)));
    return 0;
}
