#pragma once
// The program's plain picture and geometry types (no Qt).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glimmerly {

// Left, Top, Right, Bottom; Right and Bottom exclusive.
struct Rect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;

    std::int32_t Width() const { return Right - Left; }
    std::int32_t Height() const { return Bottom - Top; }
    bool operator==(const Rect&) const = default;
};

// A 24-bit colour with red in the low byte, green in the middle byte, blue in the high byte.
using Colour = std::uint32_t;

// 24 bits per pixel, stored blue, green, red; rows from the top; `stride` bytes per row
// (at least 3 × width).
struct Picture {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> pixels;

    Picture() = default;
    Picture(int w, int h)
        : width(w), height(h), stride(static_cast<std::size_t>(w) * 3),
          pixels(stride * static_cast<std::size_t>(h)) {}

    bool Empty() const { return width <= 0 || height <= 0; }
    std::uint8_t* Row(int y) { return pixels.data() + stride * static_cast<std::size_t>(y); }
    const std::uint8_t* Row(int y) const {
        return pixels.data() + stride * static_cast<std::size_t>(y);
    }
    std::uint8_t* At(int x, int y) { return Row(y) + 3 * static_cast<std::size_t>(x); }
    const std::uint8_t* At(int x, int y) const { return Row(y) + 3 * static_cast<std::size_t>(x); }
};

} // namespace glimmerly
