#pragma once
// Reading of BMP files (dropped onto the window) into 24-bit pictures: uncompressed 1-, 4- and
// 8-bit palette pictures, 16 and 32 bit with or without colour masks, and 24 bit; bottom-up and
// top-down; the core, info and version 2 to 5 headers.

#include <cstddef>
#include <cstdint>

#include "codecs/jpeg_decoder.h"
#include "imaging/picture.h"

namespace glimmerly {

// The same cap as for JPEG files: larger pictures are refused before anything is allocated.
inline constexpr std::uint64_t kMaxBmpPixels = kMaxJpegPixels;

// Decodes a whole BMP file held in memory. Throws std::runtime_error (German, Windows-1252) for
// anything it cannot read: a damaged or truncated file, compressed data, odd bit depths, or a
// picture larger than kMaxBmpPixels.
Picture DecodeBmp(const std::uint8_t* data, std::size_t size);

} // namespace glimmerly
