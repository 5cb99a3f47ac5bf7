#include <gtest/gtest.h>

#include <vector>

#include "imaging/pixel_order.h"

namespace glimmerly {
namespace {

TEST(PixelOrderTest, SwapsFirstAndThirdByteForEveryLength) {
    for (std::size_t pixels = 0; pixels <= 40; ++pixels) {
        std::vector<std::uint8_t> source(pixels * 3 + 1, 0xAB); // one guard byte
        for (std::size_t k = 0; k < pixels * 3; ++k) {
            source[k] = static_cast<std::uint8_t>(k + 1);
        }
        std::vector<std::uint8_t> expected = source;
        for (std::size_t i = 0; i < pixels; ++i) {
            std::swap(expected[3 * i], expected[3 * i + 2]);
        }
        std::vector<std::uint8_t> target(source.size(), 0xAB);
        SwapRedAndBlue(source.data(), target.data(), pixels);
        EXPECT_EQ(target, expected) << pixels;
        SwapRedAndBlue(source.data(), source.data(), pixels); // in place
        EXPECT_EQ(source, expected) << pixels;
    }
}

TEST(PixelOrderTest, DropsTheFourthByteForEveryLength) {
    for (std::size_t pixels = 0; pixels <= 70; ++pixels) {
        std::vector<std::uint8_t> source(pixels * 4);
        for (std::size_t k = 0; k < source.size(); ++k) {
            source[k] = static_cast<std::uint8_t>(k * 7 + 3);
        }
        std::vector<std::uint8_t> expected(pixels * 3 + 1, 0xAB); // one guard byte
        for (std::size_t i = 0; i < pixels; ++i) {
            for (int b = 0; b < 3; ++b) {
                expected[3 * i + b] = source[4 * i + b];
            }
        }
        std::vector<std::uint8_t> target(expected.size(), 0xAB);
        DropFourthByte(source.data(), target.data(), pixels);
        EXPECT_EQ(target, expected) << pixels;
    }
}

} // namespace
} // namespace glimmerly
