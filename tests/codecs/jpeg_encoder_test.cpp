#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>

#include <jerror.h>
#include <jpeglib.h>

#include "codecs/jpeg_encoder.h"
#include "tests/codecs/jpeg_test_support.h"

namespace glimmerly {
namespace {

using test::ParseSegments;
using test::Segment;

// The basic tables of the JPEG standard (ITU-T T.81 Annex K), in natural (row) order.
constexpr int kLuminance[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
constexpr int kChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                  24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Position in natural order of the k-th value in the file (zig-zag order).
constexpr int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

int Scaled(int entry, int quality) {
    const int s = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    return std::clamp((entry * s + 50) / 100, 1, 255);
}

std::vector<std::uint8_t> Encoded(const Picture& picture, int quality) {
    JpegEncoder encoder;
    encoder.SetPicture(picture);
    encoder.SetQuality(quality);
    encoder.Encode();
    return encoder.Data();
}

std::vector<Segment> Only(const std::vector<Segment>& all, int marker) {
    std::vector<Segment> found;
    std::copy_if(all.begin(), all.end(), std::back_inserter(found),
                 [&](const Segment& s) { return s.marker == marker; });
    return found;
}

// The quantisation tables of a file, by table number, in natural order.
std::vector<std::vector<int>> Tables(const std::vector<Segment>& segments) {
    std::vector<std::vector<int>> tables(4);
    for (const Segment& dqt : Only(segments, 0xDB)) {
        for (std::size_t k = 0; k + 65 <= dqt.payload.size(); k += 65) {
            EXPECT_EQ(dqt.payload[k] >> 4, 0) << "8-bit table entries";
            std::vector<int>& table = tables.at(dqt.payload[k] & 15);
            table.assign(64, 0);
            for (int z = 0; z < 64; ++z) {
                table[kZigZag[z]] = dqt.payload[k + 1 + z];
            }
        }
    }
    return tables;
}

TEST(JpegEncoderTest, FileLayoutIsBaselineJfif) {
    const Picture picture = test::DesktopLike(77, 45);
    const auto segments = ParseSegments(Encoded(picture, 60));
    ASSERT_FALSE(segments.empty());

    std::vector<int> order;
    for (const Segment& s : segments) {
        if (order.empty() || order.back() != s.marker) {
            order.push_back(s.marker);
        }
    }
    // SOI, APP0, quantisation tables, SOF0, Huffman tables, one scan, EOI; nothing else.
    EXPECT_EQ(order, (std::vector<int>{0xD8, 0xE0, 0xDB, 0xC0, 0xC4, 0xDA, 0xD9}));

    const auto app0 = Only(segments, 0xE0);
    ASSERT_EQ(app0.size(), 1u);
    EXPECT_EQ(app0[0].payload,
              (std::vector<std::uint8_t>{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));

    const auto sof = Only(segments, 0xC0);
    ASSERT_EQ(sof.size(), 1u);
    EXPECT_EQ(sof[0].payload,
              (std::vector<std::uint8_t>{8, 0, 45, 0, 77, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));

    // Four standard Huffman tables: DC and AC for luminance (0) and chrominance (1).
    std::set<int> classes;
    for (const Segment& dht : Only(segments, 0xC4)) {
        std::size_t k = 0;
        while (k < dht.payload.size()) {
            const int id = dht.payload[k];
            classes.insert(id);
            int count = 0;
            for (int i = 1; i <= 16; ++i) {
                count += dht.payload[k + i];
            }
            if (id == 0x00) { // DC luminance of Annex K: code lengths 1..16
                EXPECT_EQ(
                    std::vector<int>(dht.payload.begin() + k + 1, dht.payload.begin() + k + 17),
                    (std::vector<int>{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
            }
            if (id == 0x10) {
                EXPECT_EQ(count, 162); // the full AC table, not one fitted to the picture
            }
            k += 17 + count;
        }
    }
    EXPECT_EQ(classes, (std::set<int>{0x00, 0x01, 0x10, 0x11}));

    const auto sos = Only(segments, 0xDA);
    ASSERT_EQ(sos.size(), 1u);
    EXPECT_EQ(sos[0].payload, (std::vector<std::uint8_t>{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
}

TEST(JpegEncoderTest, QuantisationTablesAreScaledFromTheQuality) {
    const Picture picture = test::DesktopLike(16, 16);
    for (int quality : {1, 4, 25, 49, 50, 60, 90, 95, 100}) {
        SCOPED_TRACE(quality);
        const auto tables = Tables(ParseSegments(Encoded(picture, quality)));
        ASSERT_EQ(tables[0].size(), 64u);
        ASSERT_EQ(tables[1].size(), 64u);
        EXPECT_TRUE(tables[2].empty() && tables[3].empty());
        for (int k = 0; k < 64; ++k) {
            EXPECT_EQ(tables[0][k], Scaled(kLuminance[k], quality)) << k;
            EXPECT_EQ(tables[1][k], Scaled(kChrominance[k], quality)) << k;
        }
    }
    EXPECT_EQ(Tables(ParseSegments(Encoded(picture, 60)))[0][0], 13); // (16 * 80 + 50) / 100
    EXPECT_EQ(Tables(ParseSegments(Encoded(picture, 100)))[1], std::vector<int>(64, 1));
    EXPECT_EQ(Tables(ParseSegments(Encoded(picture, 4)))[1][63], 255);
}

TEST(JpegEncoderTest, QualityIsClampedAndStartsAt90) {
    JpegEncoder encoder;
    EXPECT_EQ(encoder.Quality(), 90);
    encoder.SetQuality(0);
    EXPECT_EQ(encoder.Quality(), 1);
    encoder.SetQuality(-300);
    EXPECT_EQ(encoder.Quality(), 1);
    encoder.SetQuality(101);
    EXPECT_EQ(encoder.Quality(), 100);
    encoder.SetQuality(356); // not wrapped into a byte
    EXPECT_EQ(encoder.Quality(), 100);
    encoder.SetQuality(37);
    EXPECT_EQ(encoder.Quality(), 37);
    EXPECT_EQ(Encoded(test::DesktopLike(8, 8), 0), Encoded(test::DesktopLike(8, 8), 1));
}

TEST(JpegEncoderTest, RedStaysRed) {
    Picture picture(32, 32); // left half pure red, right half pure blue (stored blue first)
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            picture.At(x, y)[x < 16 ? 2 : 0] = 255;
        }
    }
    const test::RgbImage decoded = test::PlainDecode(Encoded(picture, 90));
    ASSERT_EQ(decoded.width, 32);
    ASSERT_EQ(decoded.height, 32);
    const std::uint8_t* red = &decoded.samples[(8 * 32 + 4) * 3];
    EXPECT_GT(red[0], 240);
    EXPECT_LT(red[2], 15);
    const std::uint8_t* blue = &decoded.samples[(8 * 32 + 28) * 3];
    EXPECT_LT(blue[0], 15);
    EXPECT_GT(blue[2], 240);
}

// The file the library makes when it is handed red, green, blue rows (each pixel of the picture
// with its first and third byte exchanged) and otherwise only the encoder's settings.
std::vector<std::uint8_t> FromRedGreenBlueRows(const Picture& picture, int quality) {
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* bgr = picture.At(x, y);
            rgb.insert(rgb.end(), {bgr[2], bgr[1], bgr[0]});
        }
    }
    return test::PlainEncode(picture.width, picture.height, 3, rgb, quality);
}

Picture Noise(int width, int height, std::uint32_t seed) {
    Picture p(width, height);
    for (auto& byte : p.pixels) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(seed >> 23);
    }
    return p;
}

// The encoder hands the library the picture's own blue-green-red rows; the file must be the one
// red-green-blue rows give, byte for byte, whatever the picture, its size or the quality.
TEST(JpegEncoderTest, SameBytesAsFromRedGreenBlueRows) {
    Picture padded(37, 11);
    padded.stride = 37 * 3 + 5;
    padded.pixels.assign(padded.stride * 11, 0);
    const Picture noisy = Noise(37, 11, 7);
    for (int y = 0; y < 11; ++y) {
        std::copy(noisy.Row(y), noisy.Row(y) + 37 * 3, padded.Row(y));
        std::fill(padded.Row(y) + 37 * 3, padded.Row(y) + padded.stride, 0xC3);
    }
    Picture extremes(256, 3); // every value in every channel, with black and white beside it
    for (int x = 0; x < 256; ++x) {
        for (int c = 0; c < 3; ++c) {
            extremes.At(x, 0)[c] = static_cast<std::uint8_t>(x);
            extremes.At(x, 1)[c] = static_cast<std::uint8_t>(c == 1 ? 255 - x : x);
            extremes.At(x, 2)[c] = static_cast<std::uint8_t>(c == 2 ? x : 0);
        }
    }
    const Picture pictures[] = {test::DesktopLike(1, 1),
                                test::DesktopLike(33, 15, 2),
                                test::DesktopLike(1920, 40, 9),
                                Noise(250, 19, 3),
                                Noise(3200, 17, 4),
                                padded,
                                extremes};
    for (const Picture& picture : pictures) {
        for (int quality : {1, 4, 60, 95, 100}) {
            EXPECT_EQ(Encoded(picture, quality), FromRedGreenBlueRows(picture, quality))
                << picture.width << "x" << picture.height << " at " << quality;
        }
    }
}

TEST(JpegEncoderTest, EncodingTwiceGivesTheSameBytes) {
    JpegEncoder encoder;
    encoder.SetPicture(test::DesktopLike(123, 57, 3));
    encoder.Encode();
    const auto first = encoder.Data();
    encoder.Encode();
    EXPECT_EQ(encoder.Data(), first);
    EXPECT_FALSE(first.empty());
}

TEST(JpegEncoderTest, LowerQualityGivesASmallerValidFile) {
    const Picture picture = test::DesktopLike(200, 120, 4);
    const auto high = Encoded(picture, 95);
    const auto low = Encoded(picture, 60);
    EXPECT_FALSE(ParseSegments(high).empty());
    EXPECT_FALSE(ParseSegments(low).empty());
    EXPECT_LT(low.size(), high.size());
    EXPECT_EQ(test::PlainDecode(low).width, 200);
    EXPECT_EQ(test::PlainDecode(high).height, 120);
}

TEST(JpegEncoderTest, OnePixelAndOddSizesAreValid) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 17}, std::pair{17, 1}, std::pair{33, 15}}) {
        const auto data = Encoded(test::DesktopLike(w, h), 90);
        ASSERT_FALSE(ParseSegments(data).empty()) << w << "x" << h;
        const auto decoded = test::PlainDecode(data);
        EXPECT_EQ(decoded.width, w);
        EXPECT_EQ(decoded.height, h);
    }
}

TEST(JpegEncoderTest, StrideIsHonoured) {
    const Picture compact = test::DesktopLike(10, 6);
    Picture padded(10, 6);
    padded.stride = 40;
    padded.pixels.assign(40 * 6, 0x5A);
    for (int y = 0; y < 6; ++y) {
        std::copy(compact.Row(y), compact.Row(y) + 30, padded.Row(y));
    }
    EXPECT_EQ(Encoded(padded, 75), Encoded(compact, 75));
}

TEST(JpegEncoderTest, PictureWithoutPixelsGivesNoBytes) {
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}}) {
        JpegEncoder encoder;
        encoder.SetPicture(Picture(w, h));
        encoder.Encode();
        EXPECT_TRUE(encoder.Data().empty());
    }
}

TEST(JpegEncoderTest, ANewPictureDropsTheOldEncoding) {
    JpegEncoder encoder;
    encoder.SetPicture(test::DesktopLike(40, 30, 5));
    encoder.Encode();
    EXPECT_FALSE(encoder.Data().empty());
    encoder.SetPicture(test::DesktopLike(20, 10, 6));
    EXPECT_TRUE(encoder.Data().empty());
    encoder.Encode();
    EXPECT_EQ(encoder.Data(), Encoded(test::DesktopLike(20, 10, 6), 90));
    encoder.SetQuality(30);
    encoder.Encode();
    EXPECT_EQ(encoder.Data(), Encoded(test::DesktopLike(20, 10, 6), 30));
}

TEST(JpegEncoderTest, LibraryErrorIsRaisedWithItsCode) {
    JpegEncoder encoder;
    encoder.SetPicture(Picture(70000, 1)); // wider than the library's limit of 65500
    try {
        encoder.Encode();
        FAIL() << "no error";
    } catch (const JpegError& e) {
        EXPECT_EQ(e.code(), JERR_IMAGE_TOO_BIG);
        EXPECT_EQ(std::string(e.what()), "JPEG-Fehler #" + std::to_string(JERR_IMAGE_TOO_BIG));
    }
    EXPECT_TRUE(encoder.Data().empty());
    // The encoder stays usable.
    encoder.SetPicture(test::DesktopLike(9, 9));
    EXPECT_NO_THROW(encoder.Encode());
    EXPECT_FALSE(encoder.Data().empty());
}

TEST(JpegEncoderTest, PictureWithoutItsRowsIsRefused) {
    Picture broken(10, 10);
    broken.pixels.resize(50);
    JpegEncoder encoder;
    encoder.SetPicture(std::move(broken));
    EXPECT_THROW(encoder.Encode(), std::invalid_argument);
}

} // namespace
} // namespace glimmerly
