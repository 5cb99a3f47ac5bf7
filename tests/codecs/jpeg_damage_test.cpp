// Damage in the image data that the library only warns of: each kind that loses or garbles part
// of the picture ends the decoding with an error instead of giving a picture with holes.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "codecs/jpeg_decoder.h"
#include "tests/codecs/hostile_files.h"

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace glimmerly {
namespace {

using test::Bytes;
using test::JpegRecipe;

// The library's code when the file is refused as damaged; nullopt when it decodes.
std::optional<int> DamageCode(const Bytes& file) {
    try {
        DecodeJpeg(file.data(), file.size());
    } catch (const JpegError& e) {
        return e.code();
    }
    return std::nullopt;
}

// Where the `n`th (from 0) scan's header begins: its 0xFF 0xDA.
std::size_t ScanHeader(const Bytes& file, int n) {
    for (std::size_t k = 0; k + 1 < file.size(); ++k) {
        if (file[k] == 0xFF && file[k + 1] == 0xDA && n-- == 0)
            return k;
    }
    ADD_FAILURE() << "no such scan";
    return 0;
}

// The first byte of a scan's coded data: after the marker, length, components and three bytes.
std::size_t ScanData(const Bytes& file, std::size_t header) {
    return header + 2 + (file[header + 2] << 8 | file[header + 3]);
}

TEST(JpegDamageTest, TheUntouchedFilesDecode) {
    EXPECT_EQ(DamageCode(test::PhotoLikeJpeg({64, 64})), std::nullopt);
    EXPECT_EQ(DamageCode(test::PhotoLikeJpeg({.width = 64, .height = 64, .restartInterval = 2})),
              std::nullopt);
    EXPECT_EQ(DamageCode(test::PhotoLikeJpeg({64, 64, false, true})), std::nullopt);
}

TEST(JpegDamageTest, ACodeNoTableHoldsIsRefused) {
    // Sixteen one bits and more are no code of any table; a one byte is sent as 0xFF 0x00.
    Bytes file = test::PhotoLikeJpeg({64, 64});
    const std::size_t data = ScanData(file, ScanHeader(file, 0));
    for (std::size_t k = 0; k < 6; k += 2) {
        file[data + 100 + k] = 0xFF;
        file[data + 100 + k + 1] = 0x00;
    }
    EXPECT_EQ(DamageCode(file), JWRN_HUFF_BAD_CODE);
}

TEST(JpegDamageTest, ARestartMarkerOutOfTurnIsRefused) {
    Bytes file = test::PhotoLikeJpeg({.width = 64, .height = 64, .restartInterval = 2});
    for (std::size_t k = ScanData(file, ScanHeader(file, 0)); k + 1 < file.size(); ++k) {
        if (file[k] == 0xFF && file[k + 1] == 0xD0) {
            file[k + 1] = 0xD3; // the third after, where the first was due
            break;
        }
    }
    EXPECT_EQ(DamageCode(file), JWRN_MUST_RESYNC);
}

TEST(JpegDamageTest, ASequentialScanThatSkipsCoefficientsIsRefused) {
    // The last coefficient of the scan's band, 63 in every sequential file, made 62.
    Bytes file = test::PhotoLikeJpeg({64, 64});
    file[ScanData(file, ScanHeader(file, 0)) - 2] = 62;
    EXPECT_EQ(DamageCode(file), JWRN_NOT_SEQUENTIAL);
}

TEST(JpegDamageTest, AProgressiveScanThatRefinesBitsNeverSentIsRefused) {
    // The first scan sends the DC coefficients' high bits (Ah 0, Al 1); said to refine bit 2 (Ah 2,
    // Al 1), it claims a scan that never came.
    Bytes file = test::PhotoLikeJpeg({64, 64, false, true});
    std::uint8_t& approximation = file[ScanData(file, ScanHeader(file, 0)) - 1];
    ASSERT_EQ(approximation, 0x01);
    approximation = 0x21;
    EXPECT_EQ(DamageCode(file), JWRN_BOGUS_PROGRESSION);
}

} // namespace
} // namespace glimmerly
