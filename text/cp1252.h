#pragma once
// Windows-1252 text: the program keeps every user-visible and wire text as single bytes of this
// code page, so lengths count one byte per character and requests carry the bytes unchanged.

#include <cstdint>
#include <string>
#include <string_view>

namespace glimmerly::cp1252 {

// The Unicode code point of one Windows-1252 byte. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value, as Windows does.
char32_t ToUnicode(unsigned char byte);

// The Windows-1252 byte of a code point, or '?' when the code page has no such character.
char FromUnicode(char32_t codePoint);

// UTF-8 → Windows-1252. Characters outside the code page and malformed UTF-8 become '?'
// (one '?' per character, or per byte of a malformed sequence).
std::string FromUtf8(std::string_view utf8);

// Windows-1252 → UTF-8.
std::string ToUtf8(std::string_view text);

// Lower-casing by the code page's letters: A-Z, À-Þ except ×, and Š Œ Ž Ÿ.
char ToLower(char c);
std::string ToLower(std::string_view text);

} // namespace glimmerly::cp1252
