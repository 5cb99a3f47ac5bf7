// The BMP reader on files of every variant it takes, written by the test (and, for the common
// ones, by Qt as an independent writer), and on damaged and hostile ones.

#include "codecs/bmp_decoder.h"
#include "text/cp1252.h"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

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

// The file's bytes end just before a page nobody may read, so that a read past the end ends the
// test instead of finding whatever lies there.
class Fenced {
public:
    explicit Fenced(const Bytes& bytes) : size_(bytes.size()) {
#ifdef _WIN32
        copy_ = bytes;
        data_ = copy_.data();
#else
        page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        length_ = (size_ + page_ - 1) / page_ * page_ + page_;
        void* base =
            ::mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED)
            throw std::bad_alloc();
        base_ = static_cast<std::uint8_t*>(base);
        ::mprotect(base_ + length_ - page_, page_, PROT_NONE);
        data_ = base_ + length_ - page_ - size_;
        std::copy(bytes.begin(), bytes.end(), data_);
#endif
    }
    ~Fenced() {
#ifndef _WIN32
        ::munmap(base_, length_);
#endif
    }
    Fenced(const Fenced&) = delete;
    Fenced& operator=(const Fenced&) = delete;
    const std::uint8_t* data() const {
        return data_;
    }
    std::size_t size() const {
        return size_;
    }

private:
    std::size_t size_;
    std::uint8_t* data_ = nullptr;
#ifdef _WIN32
    Bytes copy_;
#else
    std::uint8_t* base_ = nullptr;
    std::size_t page_ = 0, length_ = 0;
#endif
};

// What becomes of a file: "WxH" when it decodes, the refusal's reason or text when not.
std::string Fate(const Bytes& bytes) {
    const Fenced file(bytes);
    try {
        const Picture p = DecodeBmp(file.data(), file.size());
        return std::to_string(p.width) + "x" + std::to_string(p.height);
    } catch (const PictureRefused& e) {
        return e.reason() == PictureRefusal::SideTooLong     ? "side too long"
               : e.reason() == PictureRefusal::TooManyPixels ? "too many pixels"
                                                             : "refused";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

Bytes With32(Bytes b, std::size_t at, std::uint32_t value) {
    Put32(b, at, value);
    return b;
}

// A palette picture of `colours` entries (one more than a byte can index, or fewer), the
// pixels just after them.
Bytes WithPalette(std::uint32_t colours) {
    const Bytes small = Write(8);
    const std::size_t oldOffset = small[10] | small[11] << 8;
    const std::size_t offset = 54 + 4 * std::size_t{colours};
    Bytes b(small.begin(), small.begin() + 54);
    b.resize(offset);
    b.insert(b.end(), small.begin() + static_cast<std::ptrdiff_t>(oldOffset), small.end());
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, static_cast<std::uint32_t>(offset));
    Put32(b, 46, colours);
    return b;
}

// Each refusal at its edge, with the reason it gives: a bound one step further, or a check
// left out, lets the file through or reads past its end.
TEST(BmpDecoderTest, EachRefusalHoldsAtItsEdge) {
    const std::string cut = "abgeschnitten", header = "unbekannten Kopf";
    const std::string palette = "ungültige Palette", damaged = "beschädigt";
    const Bytes good = Write(24);
    const Bytes masked = Write(32, 52, 3, false, {0xFF, 0xFF00, 0xFF0000});
    const Bytes masksAfter = Write(32, 40, 3, false, {0xFF, 0xFF00, 0xFF0000});
    const struct {
        const char* what;
        Bytes file;
        std::string fate;
    } cases[] = {
        {"a header of 39 bytes", With32(good, 14, 39), header},
        {"masks in a header of 51 bytes", Write(32, 51, 3, false, {0xFF, 0xFF00, 0xFF0000}),
         header},
        {"cut in the last mask of the header", Bytes(masked.begin(), masked.begin() + 65), cut},
        {"cut in the last mask after the header",
         Bytes(masksAfter.begin(), masksAfter.begin() + 65), cut},
        {"masks on 24 bits", Write(24, 40, 3, false, {0xFF0000, 0xFF00, 0xFF}), damaged},
        {"2 bits",
         [&] {
             Bytes b = Write(1);
             Put16(b, 28, 2);
             return b;
         }(),
         "Farbtiefe"},
        {"run-length compressed", With32(Write(8), 30, 1), "Komprimierte"},
        {"zero height", With32(good, 22, 0), "Abmessungen"},
        {"the lowest height", With32(good, 22, 0x80000000u), "Abmessungen"},
        {"a side one longer than the encoder takes", With32(good, 18, 65501), "side too long"},
        {"one pixel over the cap", With32(With32(good, 18, 8065), 22, 8321), "too many pixels"},
        {"pixels one byte into the header", With32(good, 10, 53), cut},
        {"a palette one byte into the pixels",
         [] {
             Bytes b = Write(8);
             Put32(b, 10, (b[10] | b[11] << 8) - 1);
             return b;
         }(),
         palette},
        {"257 colours", WithPalette(257), palette},
    };
    static_assert(8065u * 8321u == kMaxBmpPixels + 1);
    for (const auto& c : cases) {
        const std::string fate = Fate(c.file);
        EXPECT_NE(fate.find(cp1252::FromUtf8(c.fate)), std::string::npos)
            << c.what << ": " << cp1252::ToUtf8(fate);
    }
    // Just within each edge.
    EXPECT_EQ(Fate(WithPalette(256)), "5x3");
    EXPECT_EQ(Fate(masked), "5x3");
    EXPECT_EQ(Fate(masksAfter), "5x3");
    EXPECT_EQ(Fate(Write(32, 52, 3, false, {0xFF, 0xFF00, 0xFF0000})), "5x3");
}

} // namespace
} // namespace glimmerly
