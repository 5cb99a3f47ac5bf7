#include "codecs/bmp_decoder.h"

#include "text/cp1252.h"

#include <algorithm>
#include <array>
#include <bit>
#include <stdexcept>
#include <string_view>

namespace glimmerly {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;

[[noreturn]] void Fail(std::string_view utf8) {
    throw std::runtime_error(cp1252::FromUtf8(utf8));
}

std::uint32_t U16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// One colour channel of a 16- or 32-bit pixel: where it sits and how wide it is.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(std::uint32_t m) : mask(m) {
        if (mask == 0)
            return;
        shift = std::countr_zero(mask);
        bits = std::popcount(mask);
        if (std::countr_one(mask >> shift) != bits)
            Fail("Die BMP-Datei hat ungültige Farbmasken.");
    }
    std::uint8_t Of(std::uint32_t pixel) const {
        if (bits == 0)
            return 0;
        const std::uint32_t value = (pixel & mask) >> shift;
        if (bits >= 8)
            return static_cast<std::uint8_t>(value >> (bits - 8));
        return static_cast<std::uint8_t>(value * 255 / ((1u << bits) - 1));
    }
};

struct Header {
    std::int64_t width = 0;
    std::int64_t height = 0; // negative: rows from the top
    std::uint32_t bits = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t colours = 0; // palette entries the file declares (0: as many as the depth has)
    std::array<std::uint32_t, 3> masks{}; // red, green, blue
    std::size_t paletteStart = 0;
    std::size_t paletteEntrySize = 4;
};

Header ReadHeader(const std::uint8_t* data, std::size_t size) {
    if (size < kFileHeaderSize + 4 || data[0] != 'B' || data[1] != 'M')
        Fail("Die Datei ist kein BMP-Bild.");
    const std::uint32_t infoSize = U32(data + kFileHeaderSize);
    const std::uint8_t* info = data + kFileHeaderSize;
    if (infoSize != 12 && infoSize < 40)
        Fail("Die BMP-Datei hat einen unbekannten Kopf.");
    if (infoSize > size - kFileHeaderSize)
        Fail("Die BMP-Datei ist abgeschnitten.");
    Header h;
    std::uint32_t planes = 0;
    if (infoSize == 12) {
        h.width = U16(info + 4);
        h.height = U16(info + 6);
        planes = U16(info + 8);
        h.bits = U16(info + 10);
        h.paletteEntrySize = 3;
    } else {
        h.width = static_cast<std::int32_t>(U32(info + 4));
        h.height = static_cast<std::int32_t>(U32(info + 8));
        planes = U16(info + 12);
        h.bits = U16(info + 14);
        h.compression = U32(info + 16);
        h.colours = U32(info + 32);
    }
    h.paletteStart = kFileHeaderSize + infoSize;
    if (planes != 1)
        Fail("Die BMP-Datei ist beschädigt.");

    if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
        if (h.bits != 16 && h.bits != 32)
            Fail("Die BMP-Datei ist beschädigt.");
        // The masks follow a plain info header, and are part of the longer ones.
        std::size_t at = kFileHeaderSize + 40;
        if (infoSize == 40) {
            const std::size_t count = h.compression == kAlphaBitFields ? 4 : 3;
            if (size < at + 4 * count)
                Fail("Die BMP-Datei ist abgeschnitten.");
            h.paletteStart = at + 4 * count;
        } else if (infoSize < 52) {
            Fail("Die BMP-Datei hat einen unbekannten Kopf.");
        }
        for (std::uint32_t& mask : h.masks) {
            mask = U32(data + at);
            at += 4;
        }
    } else if (h.compression != kRgb) {
        Fail("Komprimierte BMP-Dateien werden nicht unterstützt.");
    } else if (h.bits == 16) {
        h.masks = {0x7C00, 0x03E0, 0x001F};
    } else if (h.bits == 32) {
        h.masks = {0xFF0000, 0xFF00, 0xFF};
    }
    if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32)
        Fail("Die Farbtiefe der BMP-Datei wird nicht unterstützt.");
    if (h.width <= 0 || h.height == 0 || h.height < -(std::int64_t{1} << 31) + 1)
        Fail("Die BMP-Datei hat ungültige Abmessungen.");
    const std::uint64_t rows = static_cast<std::uint64_t>(h.height < 0 ? -h.height : h.height);
    if (h.width > kMaxPictureSide || rows > kMaxPictureSide)
        throw PictureRefused(PictureRefusal::SideTooLong);
    const std::uint64_t pixels = static_cast<std::uint64_t>(h.width) * rows;
    if (pixels > kMaxBmpPixels)
        throw PictureRefused(PictureRefusal::TooManyPixels);
    // The picture is all the reader allocates, and the largest one it takes fits the budget.
    static_assert(kMaxBmpPixels * 3 <= kDecodeBudgetBytes);
    return h;
}

} // namespace

Picture DecodeBmp(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr)
        size = 0;
    const Header h = ReadHeader(data, size);
    const std::uint32_t offset = U32(data + 10);
    const int width = static_cast<int>(h.width);
    const bool topDown = h.height < 0;
    const int height = static_cast<int>(topDown ? -h.height : h.height);
    const std::uint64_t rowSize = (static_cast<std::uint64_t>(width) * h.bits + 31) / 32 * 4;
    // Every byte the rows need is there before the picture is allocated.
    if (offset < h.paletteStart || offset > size || rowSize * height > size - offset)
        Fail("Die BMP-Datei ist abgeschnitten.");

    std::array<std::uint8_t, 256 * 3> palette{}; // entries the file lacks are black
    if (h.bits <= 8) {
        const std::uint32_t depthColours = 1u << h.bits;
        if (h.colours > depthColours)
            Fail("Die BMP-Datei hat eine ungültige Palette.");
        const std::uint32_t count = h.colours == 0 ? depthColours : h.colours;
        if (h.paletteStart + std::uint64_t{count} * h.paletteEntrySize > offset)
            Fail("Die BMP-Datei hat eine ungültige Palette.");
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* entry = data + h.paletteStart + i * h.paletteEntrySize;
            palette[3 * i] = entry[0];
            palette[3 * i + 1] = entry[1];
            palette[3 * i + 2] = entry[2];
        }
    }
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]);

    Picture picture(width, height);
    for (int y = 0; y < height; ++y) {
        const int fileRow = topDown ? y : height - 1 - y;
        const std::uint8_t* in = data + offset + rowSize * static_cast<std::uint64_t>(fileRow);
        std::uint8_t* out = picture.Row(y);
        for (int x = 0; x < width; ++x, out += 3) {
            if (h.bits <= 8) {
                const int perByte = 8 / static_cast<int>(h.bits);
                const int shift = 8 - static_cast<int>(h.bits) * (x % perByte + 1);
                const int index = (in[x / perByte] >> shift) & ((1 << h.bits) - 1);
                std::copy_n(&palette[3 * static_cast<std::size_t>(index)], 3, out);
            } else if (h.bits == 24) {
                std::copy_n(in + 3 * static_cast<std::size_t>(x), 3, out);
            } else {
                const std::uint32_t pixel = h.bits == 16
                                                ? U16(in + 2 * static_cast<std::size_t>(x))
                                                : U32(in + 4 * static_cast<std::size_t>(x));
                out[0] = blue.Of(pixel);
                out[1] = green.Of(pixel);
                out[2] = red.Of(pixel);
            }
        }
    }
    return picture;
}

} // namespace glimmerly
