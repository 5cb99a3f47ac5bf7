// The picture's own constructors: which of them clear the bytes.

#include "imaging/picture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace glimmerly {
namespace {

// Memory of `bytes` full of 0xA5, given back just before a picture of the same size is made: the
// allocator hands the same block out again.
void LeaveDirtyMemory(std::size_t bytes) {
    PixelBytes dirty(bytes);
    std::fill(dirty.begin(), dirty.end(), 0xA5);
    EXPECT_EQ(dirty.back(), 0xA5);
}

TEST(PictureTest, ANewPictureIsBlackAnUnfilledOneOnlyHasItsSize) {
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{7, 5}, std::pair{640, 480}}) {
        const std::size_t bytes = static_cast<std::size_t>(w) * h * 3;
        LeaveDirtyMemory(bytes);
        const Picture black(w, h);
        EXPECT_EQ(black.stride, static_cast<std::size_t>(w) * 3);
        ASSERT_EQ(black.pixels.size(), bytes);
        EXPECT_TRUE(std::all_of(black.pixels.begin(), black.pixels.end(),
                                [](std::uint8_t b) { return b == 0; }))
            << w << "x" << h;

        const Picture unfilled = Picture::Unfilled(w, h);
        EXPECT_EQ(unfilled.width, w);
        EXPECT_EQ(unfilled.height, h);
        EXPECT_EQ(unfilled.stride, static_cast<std::size_t>(w) * 3);
        EXPECT_EQ(unfilled.pixels.size(), bytes);

        // Padded rows, as a system hands them over: the picture is as many rows of that length.
        const std::size_t padded = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
        const Picture rows = Picture::Unfilled(w, h, padded);
        EXPECT_EQ(rows.stride, padded);
        EXPECT_EQ(rows.pixels.size(), padded * static_cast<std::size_t>(h));
        EXPECT_EQ(rows.At(w - 1, h - 1) + 3, rows.pixels.data() + padded * (h - 1) + w * 3);
    }
    // Growing with a value still sets it.
    PixelBytes grown(4, 1);
    grown.resize(8, 9);
    EXPECT_EQ(grown, (PixelBytes{1, 1, 1, 1, 9, 9, 9, 9}));
}

} // namespace
} // namespace glimmerly
