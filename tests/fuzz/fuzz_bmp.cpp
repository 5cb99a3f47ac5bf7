// Arbitrary bytes as a dropped BMP file. Whatever is accepted must be a whole picture within the
// pixel cap, with every row readable.

#include "codecs/bmp_decoder.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const glimmerly::Picture picture = glimmerly::DecodeBmp(data, size);
        const std::uint64_t pixels = static_cast<std::uint64_t>(picture.width) * picture.height;
        if (picture.Empty() || pixels > glimmerly::kMaxBmpPixels ||
            picture.width > glimmerly::kMaxPictureSide ||
            picture.height > glimmerly::kMaxPictureSide ||
            picture.pixels.size() < picture.stride * static_cast<std::size_t>(picture.height))
            std::abort();
        volatile std::uint8_t sink = picture.At(picture.width - 1, picture.height - 1)[2];
        (void)sink;
    } catch (const std::runtime_error&) {
    }
    return 0;
}
