#pragma once
// Reading of BMP files (dropped onto the window) into 24-bit pictures: uncompressed 1-, 4- and
// 8-bit palette pictures, 16 and 32 bit with or without colour masks, and 24 bit; bottom-up and
// top-down; the core, info and version 2 to 5 headers.

#include <cstddef>
#include <cstdint>

#include "codecs/decode_limits.h"
#include "imaging/picture.h"

namespace glimmerly {

inline constexpr std::uint64_t kMaxBmpPixels = kMaxPicturePixels;

// Decodes a whole BMP file held in memory. Throws PictureRefused for a picture beyond the limits
// in decode_limits.h (before it is allocated), and std::runtime_error (German, Windows-1252) for
// anything it cannot read: a damaged or truncated file, compressed data, odd bit depths.
Picture DecodeBmp(const std::uint8_t* data, std::size_t size);

} // namespace glimmerly
