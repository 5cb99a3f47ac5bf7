#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "codecs/jpeg_decoder.h"
#include "codecs/jpeg_encoder.h"
#include "tests/codecs/hostile_files.h"
#include "tests/codecs/jpeg_test_support.h"

namespace glimmerly {
namespace {

std::vector<std::uint8_t> EncodedDesktop(int w, int h, int quality = 90) {
    JpegEncoder encoder;
    encoder.SetPicture(test::DesktopLike(w, h));
    encoder.SetQuality(quality);
    encoder.Encode();
    return encoder.Data();
}

TEST(JpegDecoderTest, DecodesWhatTheEncoderWrote) {
    const Picture original = test::DesktopLike(45, 31);
    JpegEncoder encoder;
    encoder.SetPicture(original);
    encoder.SetQuality(100);
    encoder.Encode();
    const Picture decoded = DecodeJpeg(encoder.Data().data(), encoder.Data().size());
    ASSERT_EQ(decoded.width, 45);
    ASSERT_EQ(decoded.height, 31);
    // Same byte order as the picture (blue first): compare the smooth parts channel by channel.
    long error = 0;
    for (int y = 0; y < 31; ++y) {
        for (int x = 0; x < 45; ++x) {
            for (int c = 0; c < 3; ++c) {
                error += std::abs(decoded.At(x, y)[c] - original.At(x, y)[c]);
            }
        }
    }
    EXPECT_LT(error / (45.0 * 31 * 3), 12.0);
    const Picture red = [] {
        Picture p(16, 16);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                p.At(x, y)[2] = 255;
            }
        }
        return p;
    }();
    encoder.SetPicture(red);
    encoder.Encode();
    const Picture back = DecodeJpeg(encoder.Data().data(), encoder.Data().size());
    EXPECT_GT(back.At(5, 5)[2], 240);
    EXPECT_LT(back.At(5, 5)[0], 15);
}

TEST(JpegDecoderTest, GreyscaleAndCmykFiles) {
    std::vector<std::uint8_t> grey(24 * 8, 77);
    const Picture g = [&] {
        const auto file = test::PlainEncode(24, 8, 1, grey);
        return DecodeJpeg(file.data(), file.size());
    }();
    ASSERT_EQ(g.width, 24);
    EXPECT_NEAR(g.At(3, 3)[0], 77, 2);
    EXPECT_EQ(g.At(3, 3)[0], g.At(3, 3)[2]);

    // CMYK files from the library carry the Adobe marker and are stored inverted (255 = no ink):
    // C = 0 with M = Y = K = 255 is full cyan and nothing else.
    std::vector<std::uint8_t> cmyk;
    for (int k = 0; k < 16 * 16; ++k) {
        cmyk.insert(cmyk.end(), {0, 255, 255, 255});
    }
    const auto file = test::PlainEncode(16, 16, 4, cmyk);
    const Picture c = DecodeJpeg(file.data(), file.size());
    EXPECT_LT(c.At(8, 8)[2], 10);  // no red
    EXPECT_GT(c.At(8, 8)[1], 245); // green
    EXPECT_GT(c.At(8, 8)[0], 245); // blue
}

TEST(JpegDecoderTest, RefusesEmptyAndGarbage) {
    EXPECT_THROW(DecodeJpeg(nullptr, 0), std::runtime_error);
    const std::uint8_t one = 0xFF;
    EXPECT_THROW(DecodeJpeg(&one, 1), JpegError);
    std::vector<std::uint8_t> garbage(5000);
    std::mt19937 random(9);
    for (auto& b : garbage) {
        b = static_cast<std::uint8_t>(random());
    }
    EXPECT_THROW(DecodeJpeg(garbage.data(), garbage.size()), JpegError);
    const std::string bmp = "BM this is not a JPEG file at all";
    EXPECT_THROW(DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bmp.data()), bmp.size()),
                 JpegError);
}

TEST(JpegDecoderTest, RefusesEveryTruncation) {
    const auto data = EncodedDesktop(40, 24);
    // Every cut (the last byte of EOI included) is refused: the image data is incomplete.
    for (std::size_t cut = 0; cut + 1 < data.size(); cut += (cut < 700 ? 1 : 13)) {
        EXPECT_THROW(DecodeJpeg(data.data(), cut), std::runtime_error) << cut;
    }
    EXPECT_NO_THROW(DecodeJpeg(data.data(), data.size()));
}

TEST(JpegDecoderTest, RefusesDamagedScanData) {
    auto data = EncodedDesktop(64, 64);
    // A marker in the middle of the entropy-coded data.
    const std::size_t middle = data.size() / 2;
    data[middle] = 0xFF;
    data[middle + 1] = 0xD9;
    EXPECT_THROW(DecodeJpeg(data.data(), data.size()), JpegError);
}

TEST(JpegDecoderTest, RefusesOversizedPicturesBeforeAllocating) {
    auto data = EncodedDesktop(16, 16);
    for (std::size_t k = 0; k + 9 < data.size(); ++k) {
        if (data[k] == 0xFF && data[k + 1] == 0xC0) { // SOF0: height and width at +5 and +7
            data[k + 5] = 0xFF;
            data[k + 6] = 0x00;
            data[k + 7] = 0xFF;
            data[k + 8] = 0x00;
            break;
        }
    }
    try {
        DecodeJpeg(data.data(), data.size());
        FAIL() << "no error";
    } catch (const PictureRefused& e) {
        EXPECT_EQ(e.reason(), PictureRefusal::TooManyPixels);
    } catch (const std::runtime_error&) {
        FAIL() << "expected the size limit";
    }
}

// A damaged file gives an error with a text, or a whole picture of the size its frame header
// claims and within the limits; a file cut short always gives an error. Sanitizers and valgrind
// watch the memory meanwhile.
TEST(JpegDecoderTest, SurvivesRandomDamage) {
    const auto original = EncodedDesktop(32, 24, 75);
    std::mt19937 random(2024);
    int pictures = 0, errors = 0, cuts = 0;
    for (int round = 0; round < 300; ++round) {
        auto data = original;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int f = 0; f < flips; ++f) {
            data[random() % data.size()] = static_cast<std::uint8_t>(random());
        }
        const bool cut = round % 5 == 0;
        if (cut) {
            data.resize(random() % data.size() + 1);
            ++cuts;
        }
        try {
            const Picture p = DecodeJpeg(data.data(), data.size());
            ++pictures;
            EXPECT_FALSE(cut) << "round " << round << ": a picture from a file cut short";
            EXPECT_EQ(test::FrameSize(data), std::pair(p.width, p.height)) << "round " << round;
            EXPECT_LE(p.width, kMaxPictureSide);
            EXPECT_LE(p.height, kMaxPictureSide);
            EXPECT_LE(std::uint64_t(p.width) * p.height, kMaxPicturePixels);
            EXPECT_GE(p.stride, static_cast<std::size_t>(p.width) * 3);
            EXPECT_EQ(p.pixels.size(), p.stride * static_cast<std::size_t>(p.height));
        } catch (const std::runtime_error& e) {
            ++errors;
            EXPECT_STRNE(e.what(), "") << "round " << round;
        }
    }
    // Both outcomes came about, and not only from the cuts.
    EXPECT_GT(pictures, 0);
    EXPECT_GT(errors, cuts);
}

TEST(JpegDecoderTest, ReadsFilesAndReportsMissingOnes) {
    const auto data = EncodedDesktop(12, 7);
    const std::string path = test::TempPath("decode.jpg");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
    }
    const Picture p = DecodeJpegFile(path);
    EXPECT_EQ(p.width, 12);
    EXPECT_EQ(p.height, 7);
    std::remove(path.c_str());
    try {
        DecodeJpegFile(path);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    }
}

} // namespace
} // namespace glimmerly
