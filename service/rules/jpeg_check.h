#pragma once
// Checking that uploaded bytes are a JPEG picture before they are stored.

#include <optional>
#include <string_view>

namespace glimmerly::service {

struct JpegSize {
    int width = 0;
    int height = 0;
};

// The picture size when data is a complete JPEG file: it starts with the SOI marker, ends with
// the EOI marker (trailing NUL, CR or LF bytes tolerated) and libjpeg reads its header.
std::optional<JpegSize> CheckJpeg(std::string_view data);

} // namespace glimmerly::service
