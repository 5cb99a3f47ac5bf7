#pragma once

#include <string>
#include <string_view>

namespace glimmerly {

// Turns a window title (Windows-1252) into a short lower-case name that can stand in a web
// address: the text after the last "-", trimmed, blanks and dots to "_", URL-unfriendly
// characters dropped, and cut to its first two words when that makes a long name short enough.
std::string MakeScreenshotName(std::string_view title);

} // namespace glimmerly
