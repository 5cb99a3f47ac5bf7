#pragma once
// Picture files that cost a reader much memory for few bytes, and genuine large ones to hold
// against them. Written row by row, so that even the largest is made without holding its picture.

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace glimmerly::test {

using Bytes = std::vector<std::uint8_t>;

struct JpegRecipe {
    int width = 16;
    int height = 16;
    bool arithmetic = false;
    bool progressive = false;
    bool fullChroma = false; // 4:4:4 instead of the library's 4:2:0
    bool optimize = false;   // Huffman tables made for the picture: the fewest bits per block
    int quality = 75;
    // When above 0, a progressive file with as many scans as the format allows short of this:
    // every AC coefficient of every component in scans of its own, sent in `approximation` + 1
    // bit steps (at most 1 + components x 63 x (approximation + 1) scans).
    int approximation = 0;
    // When above 0, a progressive file of exactly this many scans, between 1 + components x 63
    // and 1 + components x 63 x 14: the AC coefficients in scans of their own as above, the first
    // ones sent in one step more than the rest where the count asks for it.
    int scans = 0;
    // MCUs between restart markers; 0 for none.
    int restartInterval = 0;
};

// Red, green, blue samples of row y, `width` pixels.
using RowPainter = std::function<void(int y, std::uint8_t* rgb)>;

// Encodes with the library directly, asking `paint` for each row.
Bytes EncodeJpeg(const JpegRecipe& recipe, const RowPainter& paint);
// One grey all over: the smallest file the recipe can give for its size.
Bytes FlatJpeg(const JpegRecipe& recipe);
// Something like a photograph: smooth shades with fine noise on them.
Bytes PhotoLikeJpeg(const JpegRecipe& recipe);

// Rewrites the size in the file's frame header (SOF0 to SOF15); the rest stays as it is.
void SetFrameSize(Bytes& file, int width, int height);
// The width and height in the file's first frame header; nullopt when the segments before it
// do not lead to one.
std::optional<std::pair<int, int>> FrameSize(const Bytes& file);

// A 1-bit palette BMP, rows from the bottom, with black and white stripes.
Bytes OneBitBmp(int width, int height);

} // namespace glimmerly::test
