#pragma once
// Decoding of JPEG files (dropped onto the window) into 24-bit pictures, with libjpeg.

#include <cstddef>
#include <cstdint>
#include <string>

#include "codecs/jpeg_encoder.h"
#include "imaging/picture.h"

namespace glimmerly {

// Pictures with more pixels than this are refused before anything is allocated for them.
inline constexpr std::uint64_t kMaxJpegPixels = std::uint64_t{1} << 26;

// Decodes a whole JPEG file held in memory (greyscale, YCbCr, RGB, CMYK/YCCK; baseline or
// progressive). Throws JpegError for data the library rejects, including truncated or damaged
// image data, and std::runtime_error for empty input and oversized pictures.
Picture DecodeJpeg(const std::uint8_t* data, std::size_t size);

// Reads the file and decodes it; throws std::runtime_error when the file cannot be read.
Picture DecodeJpegFile(const std::string& path);

} // namespace glimmerly
