// Arbitrary bytes as a dropped JPEG file: the decoder either refuses them with an exception or
// returns a whole picture within the pixel cap.

#include "codecs/jpeg_decoder.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const glimmerly::Picture picture = glimmerly::DecodeJpeg(data, size);
        const std::uint64_t pixels = static_cast<std::uint64_t>(picture.width) * picture.height;
        if (picture.Empty() || pixels > glimmerly::kMaxJpegPixels ||
            picture.width > glimmerly::kMaxPictureSide ||
            picture.height > glimmerly::kMaxPictureSide ||
            picture.pixels.size() < picture.stride * static_cast<std::size_t>(picture.height))
            std::abort();
    } catch (const std::runtime_error&) { // JpegError is one
    }
    return 0;
}
