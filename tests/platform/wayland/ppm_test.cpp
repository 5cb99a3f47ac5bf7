#include "platform/wayland/ppm.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace glimmerly::platform::wayland {
namespace {

std::string Pixels(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes)
        out.push_back(static_cast<char>(b));
    return out;
}

TEST(Ppm, ReadsPixelsInPlaceAndOrder) {
    // 2 × 2, a comment in the header, a byte after the picture that belongs to nobody.
    const std::string data =
        "P6\n# grabbed\n2 2\n255\n" + Pixels({255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3}) + "x";
    const Picture p = ParsePpm(data);
    ASSERT_EQ(p.width, 2);
    ASSERT_EQ(p.height, 2);
    // Stored blue, green, red.
    EXPECT_EQ(p.At(0, 0)[2], 255);
    EXPECT_EQ(p.At(0, 0)[0], 0);
    EXPECT_EQ(p.At(1, 0)[1], 255);
    EXPECT_EQ(p.At(0, 1)[0], 255);
    EXPECT_EQ(p.At(0, 1)[2], 0);
    EXPECT_EQ(p.At(1, 1)[0], 3);
    EXPECT_EQ(p.At(1, 1)[1], 2);
    EXPECT_EQ(p.At(1, 1)[2], 1);
}

TEST(Ppm, PixelBytesThatLookLikeWhiteSpaceAreData) {
    // The first pixel starts with '\n' and ' ': exactly one separator byte follows maxval.
    const Picture p = ParsePpm("P6 1 1 255\n" + Pixels({'\n', ' ', '#'}));
    EXPECT_EQ(p.At(0, 0)[2], '\n');
    EXPECT_EQ(p.At(0, 0)[1], ' ');
    EXPECT_EQ(p.At(0, 0)[0], '#');
}

TEST(Ppm, RefusesDamagedOrUnsupportedPictures) {
    const std::string full = Pixels({1, 2, 3, 4, 5, 6});
    for (const std::string& bad : {
             std::string(),
             std::string("P3 2 1 255\n1 2 3 4 5 6"), // plain-text PPM
             "P6 2 1 255\n" + full.substr(0, 5),     // one byte short
             std::string("P6 2 1 255"),              // header without pixels
             std::string("P6 2 1"),                  // header cut short
             "P6 2 1 65535\n" + full + full,         // 16 bits per channel
             "P6 2 1 15\n" + full,                   // fewer than 8 bits
             "P6 0 1 255\n" + full,                  // no width
             "P6 -2 1 255\n" + full,
         }) {
        EXPECT_THROW(ParsePpm(bad), std::runtime_error) << bad.substr(0, 14);
    }
}

TEST(Ppm, RefusesHugeDimensionsWithoutAskingForTheMemory) {
    // Such headers must fail on the size check, not on an allocation of gigabytes.
    for (const std::string& header :
         {std::string("P6 40000 40000 255\n"), std::string("P6 32768 32768 255\n"),
          std::string("P6 99999999999999999999 1 255\n"), std::string("P6 1 32769 255\n")}) {
        EXPECT_THROW(ParsePpm(header + "abc"), std::runtime_error) << header;
    }
}

} // namespace
} // namespace glimmerly::platform::wayland
