// The BMP reader on files of every variant it takes, written by the test (and, for the common
// ones, by Qt as an independent writer), and on damaged and hostile ones.

#include "codecs/bmp_decoder.h"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace glimmerly {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The colour of test pixel (x, y) as blue, green, red.
std::array<std::uint8_t, 3> Expected(int x, int y) {
    return {static_cast<std::uint8_t>(x * 40), static_cast<std::uint8_t>(y * 50),
            static_cast<std::uint8_t>(200 - x * 10 - y)};
}

struct Layout {
    int bits = 24;
    std::uint32_t infoSize = 40;
    std::uint32_t compression = 0;
    bool topDown = false;
    std::vector<std::uint32_t> masks; // after a 40-byte header, or inside a longer one
};

// A 5 x 3 picture of Expected's colours. Palette pictures map pixel (x, y) to index
// (x + 5 y) mod colours, with palette entry i = Expected(i % 5, i / 5).
Bytes Write(int bits, std::uint32_t infoSize = 40, std::uint32_t compression = 0,
            bool topDown = false, std::vector<std::uint32_t> masks = {}) {
    const Layout l{bits, infoSize, compression, topDown, std::move(masks)};
    const int w = 5, h = 3;
    // The core header has no colour count: its palette is always full.
    const std::uint32_t colours = l.bits > 8         ? 0
                                  : l.infoSize == 12 ? 1u << l.bits
                                                     : std::min(1u << l.bits, 15u);
    const std::size_t entry = l.infoSize == 12 ? 3 : 4;
    const std::size_t extraMasks = l.infoSize == 40 ? 4 * l.masks.size() : 0;
    const std::size_t paletteAt = 14 + l.infoSize + extraMasks;
    const std::size_t offset = paletteAt + colours * entry;
    const std::size_t rowSize = (static_cast<std::size_t>(w) * l.bits + 31) / 32 * 4;
    Bytes b(offset + rowSize * h);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, static_cast<std::uint32_t>(offset));
    Put32(b, 14, l.infoSize);
    if (l.infoSize == 12) {
        Put16(b, 18, w);
        Put16(b, 20, h);
        Put16(b, 22, 1);
        Put16(b, 24, l.bits);
    } else {
        Put32(b, 18, w);
        Put32(b, 22, static_cast<std::uint32_t>(l.topDown ? -h : h));
        Put16(b, 26, 1);
        Put16(b, 28, l.bits);
        Put32(b, 30, l.compression);
        Put32(b, 46, l.bits <= 8 ? colours : 0);
        for (std::size_t i = 0; i < l.masks.size(); ++i)
            Put32(b, 54 + 4 * i, l.masks[i]);
    }
    for (std::uint32_t i = 0; i < colours; ++i) {
        const auto c = Expected(static_cast<int>(i % 5), static_cast<int>(i / 5));
        std::memcpy(&b[paletteAt + i * entry], c.data(), 3);
    }
    for (int y = 0; y < h; ++y) {
        const std::size_t row = offset + rowSize * (l.topDown ? y : h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const auto c = Expected(x, y);
            if (l.bits <= 8) {
                const std::uint32_t index =
                    static_cast<std::uint32_t>(x + 5 * y) % std::min(colours, 15u);
                const int perByte = 8 / l.bits;
                const int shift = 8 - l.bits * (x % perByte + 1);
                b[row + x / perByte] |= static_cast<std::uint8_t>(index << shift);
            } else if (l.bits == 24) {
                std::memcpy(&b[row + 3 * x], c.data(), 3);
            } else if (l.bits == 16) { // 5-6-5 masks, or 5-5-5 without
                const bool six = !l.masks.empty();
                const std::uint32_t v = six ? (c[2] >> 3) << 11 | (c[1] >> 2) << 5 | c[0] >> 3
                                            : (c[2] >> 3) << 10 | (c[1] >> 3) << 5 | c[0] >> 3;
                Put16(b, row + 2 * x, v);
            } else { // masks, when given, put red in the low byte
                const bool swapped = !l.masks.empty();
                const std::uint32_t v = swapped ? c[2] | c[1] << 8 | c[0] << 16 | 0xFF000000u
                                                : c[0] | c[1] << 8 | c[2] << 16 | 0xFF000000u;
                Put32(b, row + 4 * x, v);
            }
        }
    }
    return b;
}

Picture Decode(const Bytes& b) {
    return DecodeBmp(b.data(), b.size());
}

// Each channel within `tolerance` (the 16-bit variants lose low bits).
void ExpectPixels(const Picture& p, int tolerance, int colours = 0) {
    ASSERT_EQ(p.width, 5);
    ASSERT_EQ(p.height, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const int i = colours ? (x + 5 * y) % colours : x + 5 * y;
            const auto c = Expected(i % 5, i / 5);
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(p.At(x, y)[k], c[k], tolerance) << x << "," << y << " channel " << k;
        }
    }
}

TEST(BmpDecoderTest, ReadsEveryTrueColourVariant) {
    ExpectPixels(Decode(Write(24)), 0);
    ExpectPixels(Decode(Write(24, 40, 0, true)), 0);
    ExpectPixels(Decode(Write(24, 124)), 0);
    ExpectPixels(Decode(Write(24, 12)), 0);
    ExpectPixels(Decode(Write(32)), 0);
    ExpectPixels(Decode(Write(32, 40, 0, true)), 0);
    ExpectPixels(Decode(Write(32, 40, 3, false, {0xFF, 0xFF00, 0xFF0000})), 0);
    ExpectPixels(Decode(Write(32, 108, 3, true, {0xFF, 0xFF00, 0xFF0000})), 0);
    ExpectPixels(Decode(Write(16)), 8);
    ExpectPixels(Decode(Write(16, 40, 3, false, {0xF800, 0x07E0, 0x001F})), 8);
}

TEST(BmpDecoderTest, ReadsPalettePictures) {
    ExpectPixels(Decode(Write(8)), 0, 15);
    ExpectPixels(Decode(Write(8, 40, 0, true)), 0, 15);
    ExpectPixels(Decode(Write(4)), 0, 15);
    ExpectPixels(Decode(Write(1)), 0, 2);
    ExpectPixels(Decode(Write(8, 12)), 0, 15);
}

TEST(BmpDecoderTest, AgreesWithAnotherWriter) {
    QImage image(37, 21, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 6, y * 12, (x * y) % 256));
    for (const QImage& variant :
         {image, image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither)}) {
        QByteArray file;
        QBuffer buffer(&file);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(variant.save(&buffer, "BMP"));
        const Picture p = DecodeBmp(reinterpret_cast<const std::uint8_t*>(file.data()),
                                    static_cast<std::size_t>(file.size()));
        ASSERT_EQ(p.width, 37);
        ASSERT_EQ(p.height, 21);
        for (int y = 0; y < 21; ++y) {
            for (int x = 0; x < 37; ++x) {
                const QRgb c = variant.pixel(x, y);
                ASSERT_EQ(p.At(x, y)[0], qBlue(c));
                ASSERT_EQ(p.At(x, y)[1], qGreen(c));
                ASSERT_EQ(p.At(x, y)[2], qRed(c));
            }
        }
    }
}

// Each damage is refused with a message, before anything large is allocated.
TEST(BmpDecoderTest, RefusesDamagedAndHostileFiles) {
    const Bytes good = Write(24);
    std::vector<std::pair<const char*, Bytes>> cases;
    auto damaged = [&](const char* what, auto change) {
        Bytes b = good;
        change(b);
        cases.emplace_back(what, std::move(b));
    };
    damaged("empty", [](Bytes& b) { b.clear(); });
    damaged("not a BMP", [](Bytes& b) { b[0] = 'P'; });
    damaged("cut in the header", [](Bytes& b) { b.resize(30); });
    damaged("cut in the pixels", [](Bytes& b) { b.pop_back(); });
    damaged("offset past the end", [](Bytes& b) { Put32(b, 10, 0xFFFFFFF0u); });
    damaged("offset inside the header", [](Bytes& b) { Put32(b, 10, 20); });
    damaged("unknown header size", [](Bytes& b) { Put32(b, 14, 20); });
    damaged("header larger than the file", [](Bytes& b) { Put32(b, 14, 4000); });
    damaged("two planes", [](Bytes& b) { Put16(b, 26, 2); });
    damaged("zero width", [](Bytes& b) { Put32(b, 18, 0); });
    damaged("negative width", [](Bytes& b) { Put32(b, 18, 0xFFFFFFFBu); });
    damaged("zero height", [](Bytes& b) { Put32(b, 22, 0); });
    damaged("lowest height", [](Bytes& b) { Put32(b, 22, 0x80000000u); });
    damaged("absurd size", [](Bytes& b) {
        Put32(b, 18, 60000);
        Put32(b, 22, 60000);
    });
    damaged("just over the cap", [](Bytes& b) {
        Put32(b, 18, 8192);
        Put32(b, 22, static_cast<std::uint32_t>(kMaxBmpPixels / 8192 + 1));
    });
    damaged("large but no pixels", [](Bytes& b) {
        Put32(b, 18, 4096);
        Put32(b, 22, 4096);
    });
    damaged("12 bits", [](Bytes& b) { Put16(b, 28, 12); });
    damaged("run-length compressed", [](Bytes& b) { Put32(b, 30, 1); });
    damaged("masks on 24 bits", [](Bytes& b) { Put32(b, 30, 3); });
    cases.emplace_back("palette too long", [] {
        Bytes b = Write(8);
        Put32(b, 46, 257);
        return b;
    }());
    cases.emplace_back("palette past the pixels", [] {
        Bytes b = Write(8);
        Put32(b, 10, 60);
        return b;
    }());
    cases.emplace_back("split masks", [] {
        Bytes b = Write(32, 40, 3, false, {0xFF, 0xFF00, 0xFF0000});
        Put32(b, 54, 0x0F0F);
        return b;
    }());
    cases.emplace_back("masks cut off", [] {
        Bytes b = Write(32, 40, 3, false, {0xFF, 0xFF00, 0xFF0000});
        Put32(b, 30, 3);
        b.resize(60);
        return b;
    }());
    for (const auto& [what, bytes] : cases)
        EXPECT_THROW(Decode(bytes), std::runtime_error) << what;
    EXPECT_THROW(DecodeBmp(nullptr, 100), std::runtime_error);
}

TEST(BmpDecoderTest, PaletteIndicesBeyondTheTableAreBlack) {
    Bytes b = Write(8);
    const std::uint32_t offset = b[10] | b[11] << 8;
    b[offset] = 200; // bottom row, first pixel
    const Picture p = Decode(b);
    EXPECT_EQ(p.At(0, 2)[0] | p.At(0, 2)[1] | p.At(0, 2)[2], 0);
}

} // namespace
} // namespace glimmerly
