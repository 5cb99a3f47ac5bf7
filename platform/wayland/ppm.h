#pragma once
// Binary PPM (P6, 8 bits per channel) as the screen grab program writes it. No Qt.

#include "imaging/picture.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace glimmerly::platform::wayland {

// Largest picture accepted (each side), far beyond any desktop; keeps a damaged header from
// asking for gigabytes.
inline constexpr int kMaxPpmSide = 32768;

// The picture in `data`; throws std::runtime_error (German, Windows-1252) when it is not a
// complete P6 picture with maxval 255 of a sane size. Bytes after the picture are ignored.
Picture ParsePpm(std::string_view data);

} // namespace glimmerly::platform::wayland
