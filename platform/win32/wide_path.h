#pragma once
// Paths are UTF-8 inside the program; the W calls of the system take UTF-16. The conversion
// happens here, at the boundary, so names outside the ANSI code page survive both ways.
// Internal to platform/win32.

#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::platform::win32 {

// nullopt for bytes that are not UTF-8 (or hold a zero, which would cut the name short).
std::optional<std::wstring> Utf16FromUtf8(std::string_view utf8);
// A lone surrogate, which no UTF-8 can carry, becomes U+FFFD.
std::string Utf8FromUtf16(std::wstring_view utf16);

// `path` for the W file calls. A path of the classic length is only converted; a longer one is
// made whole (GetFullPathNameW: "." and ".." resolved, "/" turned into "\") and prefixed with
// "\\?\" ("\\?\UNC\" for a share), which lifts the limit of MAX_PATH characters. nullopt: `path`
// is not UTF-8.
std::optional<std::wstring> WidePath(const std::string& path);

} // namespace glimmerly::platform::win32
