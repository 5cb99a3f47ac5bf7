// What Stretch refuses, at each edge: a picture whose buffer lacks a byte of its rows, a negative
// size, a filter window too wide to build.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <stdexcept>

#include "imaging/resample.h"

namespace glimmerly {
namespace {

// A picture of `width` x `height` with `stride` bytes per row whose buffer ends `bytesShort`
// before the end of its last row's pixels.
Picture Padded(int width, int height, std::size_t stride, std::size_t bytesShort = 0) {
    Picture p = Picture::Unfilled(width, height, stride);
    p.pixels.assign(stride * (height - 1) + static_cast<std::size_t>(width) * 3 - bytesShort, 9);
    return p;
}

// A triangle the resampler does not know, so that it cannot bound the window by the kernel's
// reach.
float UnknownTriangle(float x) {
    return std::fabs(x) < 1.0f ? 1.0f - std::fabs(x) : 0.0f;
}

TEST(StretchGuards, ThePaddingAfterTheLastRowMayBeMissingButNoPixel) {
    for (const bool asSource : {true, false}) {
        Picture other(4, 3);
        Picture whole = Padded(4, 3, 16);
        Picture& source = asSource ? whole : other;
        Picture& destination = asSource ? other : whole;
        EXPECT_NO_THROW(Stretch(source, destination, TriangleFilter, 1.0f)) << asSource;
        Picture shortByOne = Padded(4, 3, 16, 1);
        EXPECT_THROW(Stretch(asSource ? shortByOne : other, asSource ? other : shortByOne,
                             TriangleFilter, 1.0f),
                     std::invalid_argument)
            << asSource;
    }
}

TEST(StretchGuards, ARowShorterThanItsPixelsIsRefused) {
    Picture source(4, 3);
    Picture narrow = Padded(4, 3, 11);
    narrow.pixels.resize(100);
    EXPECT_THROW(Stretch(source, narrow, TriangleFilter, 1.0f), std::invalid_argument);
    EXPECT_THROW(Stretch(narrow, source, TriangleFilter, 1.0f), std::invalid_argument);
}

TEST(StretchGuards, ANegativeSizeIsRefusedEvenWithNothingToDraw) {
    Picture source(4, 3);
    Picture destination;
    destination.height = -1;
    EXPECT_THROW(Stretch(source, destination, TriangleFilter, 1.0f), std::invalid_argument);
    destination = Picture();
    destination.width = -1;
    EXPECT_THROW(Stretch(source, destination, TriangleFilter, 1.0f), std::invalid_argument);
}

TEST(StretchGuards, AWindowTooWideToBuildIsRefused) {
    Picture source(2, 1);
    Picture destination(2, 1);
    // A kernel of unknown reach at a support of 2^27: 2^28 + 1 source pixels for the first.
    EXPECT_THROW(Stretch(source, destination, UnknownTriangle, 0x1p27f), std::invalid_argument);
    // Shrinking to one pixel divides the support by half a pixel: past the largest float, even
    // though the kernel's own reach would bound the window.
    Picture one(1, 1);
    EXPECT_THROW(Stretch(source, one, TriangleFilter, FLT_MAX), std::invalid_argument);
    EXPECT_NO_THROW(Stretch(source, one, TriangleFilter, FLT_MAX / 4));
}

} // namespace
} // namespace glimmerly
