#pragma once
// Windows-1252 texts in tests, written readably: "Grüße aus Köln"_cp1252 is the bytes
// "Gr\xFC\xDF" "e aus K\xF6ln". Characters outside the code page become '?'.
//
//   using namespace glimmerly::testing::literals;

#include "text/cp1252.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace glimmerly::testing {
inline namespace literals {

inline std::string operator""_cp1252(const char* utf8, std::size_t length) {
    return cp1252::FromUtf8(std::string_view(utf8, length));
}

} // namespace literals
} // namespace glimmerly::testing
