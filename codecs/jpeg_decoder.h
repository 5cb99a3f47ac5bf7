#pragma once
// Decoding of JPEG files (dropped onto the window) into 24-bit pictures, with libjpeg.

#include <cstddef>
#include <cstdint>
#include <string>

#include "codecs/decode_limits.h"
#include "codecs/jpeg_encoder.h"
#include "imaging/picture.h"

namespace glimmerly {

inline constexpr std::uint64_t kMaxJpegPixels = kMaxPicturePixels;

// Decodes a whole JPEG file held in memory (greyscale, YCbCr, RGB, CMYK/YCCK; baseline or
// progressive, Huffman-coded). Throws JpegError for data the library rejects, including truncated
// or damaged image data, PictureRefused for files that would cost more than the limits in
// decode_limits.h allow (before the picture is allocated), and std::runtime_error for empty input.
Picture DecodeJpeg(const std::uint8_t* data, std::size_t size);

// Reads the file and decodes it; throws std::runtime_error when the file cannot be read.
Picture DecodeJpegFile(const std::string& path);

} // namespace glimmerly
