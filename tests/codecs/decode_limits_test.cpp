// The readers of dropped pictures against files that claim far more than they hold: what is
// refused (and for which reason, before the picture is allocated), and that genuine large pictures
// still decode exactly as the library decodes them. Peak memory is measured by
// bench/codecs/decode_memory, not here.

#include <gtest/gtest.h>

#include <string>

#include "codecs/bmp_decoder.h"
#include "codecs/decode_limits.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/jpeg_encoder.h"
#include "tests/codecs/hostile_files.h"
#include "tests/codecs/jpeg_test_support.h"

namespace glimmerly {
namespace {

using test::Bytes;
using test::JpegRecipe;

const char* NameOf(PictureRefusal reason) {
    switch (reason) {
    case PictureRefusal::SideTooLong:
        return "side too long";
    case PictureRefusal::TooManyPixels:
        return "too many pixels";
    case PictureRefusal::OverBudget:
        return "over budget";
    case PictureRefusal::ShorterThanClaimed:
        return "shorter than claimed";
    case PictureRefusal::ScansOutOfOrder:
        return "scans out of order";
    case PictureRefusal::ArithmeticCoding:
        return "arithmetic";
    }
    return "?";
}

// What becomes of a file: its size when it decodes, the reason when it is refused, "error" when
// the library or the reader finds it damaged.
std::string Fate(const Bytes& file, bool bmp = false) {
    try {
        const Picture p =
            bmp ? DecodeBmp(file.data(), file.size()) : DecodeJpeg(file.data(), file.size());
        return std::to_string(p.width) + "x" + std::to_string(p.height);
    } catch (const PictureRefused& e) {
        return NameOf(e.reason());
    } catch (const std::runtime_error&) {
        return "error";
    }
}

Bytes Claiming(const JpegRecipe& recipe, int width, int height) {
    Bytes file = test::FlatJpeg(recipe);
    test::SetFrameSize(file, width, height);
    return file;
}

// Bytes after the first scan's header: the entropy-coded data and what follows it.
std::size_t ScanBytes(const Bytes& file) {
    std::size_t headers = 0;
    for (const test::Segment& s : test::ParseSegments(file)) {
        headers += s.marker == 0xD8 ? 2 : 4 + s.payload.size();
        if (s.marker == 0xDA)
            return file.size() - headers;
    }
    ADD_FAILURE() << "no scan";
    return 0;
}

TEST(DecodeLimitsTest, ArithmeticCodedFilesAreRefusedWhateverTheyHold) {
    // A few hundred bytes of arithmetic-coded data can hold a flat picture of any size, so
    // neither the file's size nor a cap on it protects; genuine small ones go as well.
    EXPECT_EQ(Fate(test::FlatJpeg({64, 48, true})), "arithmetic");
    EXPECT_EQ(Fate(test::PhotoLikeJpeg({64, 48, true, true})), "arithmetic");
    const Bytes huge = Claiming({16, 16, true}, 8192, 8192);
    EXPECT_LT(huge.size(), 400u);
    EXPECT_EQ(Fate(huge), "arithmetic");
    // The same pictures Huffman-coded are fine.
    EXPECT_EQ(Fate(test::FlatJpeg({64, 48})), "64x48");
    EXPECT_EQ(Fate(test::PhotoLikeJpeg({64, 48, false, true})), "64x48");
}

TEST(DecodeLimitsTest, HeadersClaimingMoreBlocksThanTheDataCanHoldAreRefused) {
    // Baseline, progressive 4:2:0 and 4:4:4: a small file with a header that claims 2^26 pixels.
    for (const JpegRecipe& recipe : {JpegRecipe{64, 64}, JpegRecipe{64, 64, false, true},
                                     JpegRecipe{64, 64, false, true, true}})
        EXPECT_EQ(Fate(Claiming(recipe, 8192, 8192)), "shorter than claimed") << recipe.progressive;

    // Every 8x8 block of the first scan takes at least one bit. A flat 4:2:0 picture 1024 wide
    // has 24 blocks per row of pixels in its first scan: 16 of brightness, 8 of colour.
    const Bytes flat = test::FlatJpeg({1024, 64, false, false, false, true});
    const int heldRows = static_cast<int>(ScanBytes(flat) * 8 / 24) / 16 * 16;
    ASSERT_GT(heldRows, 64);
    Bytes claims = flat;
    test::SetFrameSize(claims, 1024, heldRows);
    EXPECT_EQ(Fate(claims), "error"); // within the bound: the library finds the data missing
    test::SetFrameSize(claims, 1024, heldRows + 32);
    EXPECT_EQ(Fate(claims), "shorter than claimed");

    // A progressive file has to begin with the DC scan, the one that costs a bit per block.
    Bytes acFirst = Claiming({64, 64, false, true}, 8192, 8192);
    for (std::size_t k = 0; k + 4 < acFirst.size(); ++k) {
        if (acFirst[k] == 0xFF && acFirst[k + 1] == 0xDA) { // Ss after Ns and the components
            acFirst[k + 4 + 1 + 2 * acFirst[k + 4]] = 1;
            break;
        }
    }
    EXPECT_EQ(Fate(acFirst), "scans out of order");
}

TEST(DecodeLimitsTest, ProgressiveFilesStayWithinTheBudget) {
    // A progressive file needs the picture and a coefficient buffer of the whole picture at once:
    // at 4:4:4 and 2^26 pixels 192 + 384 MiB. Padding passes the size check; the budget does not.
    Bytes padded = Claiming({64, 64, false, true, true}, 8192, 8192);
    padded.resize(padded.size() + (3u << 20));
    EXPECT_EQ(Fate(padded), "over budget");
    // 5000 x 3000 at 4:4:4 takes 43 + 86 MiB: within the budget, refused only for its missing data.
    test::SetFrameSize(padded, 5000, 3000);
    EXPECT_EQ(Fate(padded), "error");
}

// "decoded", or what the reader said when it refused the file.
std::string ScanText(const Bytes& file) {
    try {
        DecodeJpeg(file.data(), file.size());
        return "decoded";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

bool TooManyScans(const Bytes& file) {
    return ScanText(file).find("zu viele Scans") != std::string::npos;
}

// A progressive picture of `scans` scans, each its own start-of-scan marker.
Bytes WithScans(int width, int height, int scans) {
    Bytes file =
        test::FlatJpeg({.width = width, .height = height, .progressive = true, .scans = scans});
    int markers = 0;
    for (std::size_t k = 0; k + 1 < file.size(); ++k)
        markers += file[k] == 0xFF && file[k + 1] == 0xDA;
    EXPECT_EQ(markers, scans);
    return file;
}

TEST(DecodeLimitsTest, TheBudgetCountsThePictureItself) {
    // A progressive 8000 x 6000 4:2:0 picture: 137 MiB for the picture and as much for the
    // coefficients of all its scans. Each alone fits the budget, the two together do not.
    EXPECT_EQ(Fate(test::FlatJpeg({8000, 6000, false, true})), "over budget");
}

TEST(DecodeLimitsTest, AProgressiveFileMayHaveAThousandScansAndNoMore) {
    // However small the picture.
    EXPECT_EQ(ScanText(WithScans(48, 48, 1000)), "decoded");
    EXPECT_TRUE(TooManyScans(WithScans(48, 48, 1001)));
    // Scans times pixels: 2^30 are taken, 2^30 + 1 are not.
    EXPECT_EQ(ScanText(WithScans(2048, 1024, 512)), "decoded");
    EXPECT_TRUE(TooManyScans(WithScans(2501, 1321, 325)));
}

TEST(DecodeLimitsTest, ScansAreBoundedByThePicturesSize) {
    // 946 scans, each a pass over the picture: a 1000 x 1000 picture may have them, a 1200 x 1200
    // one is refused once its passes would go past what a genuine file ever needs.
    EXPECT_EQ(ScanText(test::FlatJpeg({1000, 1000, false, true, false, false, 75, 4})), "decoded");
    EXPECT_NE(ScanText(test::FlatJpeg({1200, 1200, false, true, false, false, 75, 4}))
                  .find("zu viele Scans"),
              std::string::npos);
    // A genuine progressive file about as large as the budget takes keeps its ten scans.
    EXPECT_EQ(Fate(test::FlatJpeg({6000, 6000, false, true})), "6000x6000");
}

TEST(DecodeLimitsTest, SidesLongerThanTheEncoderTakesAreRefused) {
    EXPECT_EQ(Fate(Claiming({16, 16}, 65501, 8)), "side too long");
    EXPECT_EQ(Fate(Claiming({16, 16}, 8, 65535)), "side too long");
    EXPECT_EQ(Fate(test::FlatJpeg({65500, 8})), "65500x8");

    EXPECT_EQ(Fate(test::OneBitBmp(70000, 1), true), "side too long");
    EXPECT_EQ(Fate(test::OneBitBmp(1, 70000), true), "side too long");
    // What is taken can be uploaded: the encoder takes the longest side there is.
    const Bytes longest = test::OneBitBmp(65500, 3);
    const Picture p = DecodeBmp(longest.data(), longest.size());
    EXPECT_EQ(p.width, 65500);
    JpegEncoder encoder;
    encoder.SetPicture(p);
    EXPECT_NO_THROW(encoder.Encode());
    EXPECT_FALSE(encoder.Data().empty());
}

TEST(DecodeLimitsTest, LargeGenuinePicturesDecodeAsTheLibraryDecodesThem) {
    // 48 megapixels: baseline as cameras write them, and a progressive picture of 6 megapixels.
    for (const JpegRecipe& recipe : {JpegRecipe{8000, 6000}, JpegRecipe{3000, 2000, false, true}}) {
        const Bytes file = test::PhotoLikeJpeg(recipe);
        const Picture p = DecodeJpeg(file.data(), file.size());
        const test::RgbImage plain = test::PlainDecode(file);
        ASSERT_EQ(p.width, plain.width);
        ASSERT_EQ(p.height, plain.height);
        bool same = true;
        for (int y = 0; y < p.height && same; ++y) {
            const std::uint8_t* bgr = p.Row(y);
            const std::uint8_t* rgb = &plain.samples[static_cast<std::size_t>(y) * p.width * 3];
            for (int x = 0; x < p.width * 3; x += 3)
                same = same && bgr[x] == rgb[x + 2] && bgr[x + 1] == rgb[x + 1] &&
                       bgr[x + 2] == rgb[x];
        }
        EXPECT_TRUE(same) << recipe.width << "x" << recipe.height;
    }
    // One bit per pixel, 8 MB: the pixel cap, within the budget.
    const Bytes bmp = test::OneBitBmp(8192, 8192);
    const Picture p = DecodeBmp(bmp.data(), bmp.size());
    EXPECT_EQ(p.width * p.height, 8192 * 8192);
    // The bottom row comes first in the file: four black pixels, four white ones.
    EXPECT_EQ(p.At(0, 8191)[0], 0);
    EXPECT_EQ(p.At(4, 8191)[1], 255);
}

} // namespace
} // namespace glimmerly
