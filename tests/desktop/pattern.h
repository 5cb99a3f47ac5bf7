#pragma once
// The known picture the desktop tests draw and then read back from the screen.

#include <cstdint>

namespace glimmerly::desktop_test {

struct Rgb {
    std::uint8_t red, green, blue;
};

// Colour of pixel (x, y) of the pattern window, in window coordinates. No two neighbours share
// a colour, so an offset by one pixel in any direction shows.
inline Rgb PatternAt(int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 13 + x * 3),
               static_cast<std::uint8_t>(x + y * 5 + 17)};
}

} // namespace glimmerly::desktop_test
