#pragma once
// The program's plain picture and geometry types (no Qt).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
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

// std::allocator, except that elements made without a value are left as they are instead of
// being zeroed: a vector of it grown by resize(n) or made with n elements holds unset bytes.
template <class T> struct UnzeroedAllocator : std::allocator<T> {
    using value_type = T;
    UnzeroedAllocator() noexcept = default;
    template <class U> UnzeroedAllocator(const UnzeroedAllocator<U>&) noexcept {}
    template <class U> struct rebind { using other = UnzeroedAllocator<U>; };
    template <class U> void construct(U* p) noexcept(noexcept(::new (static_cast<void*>(p)) U)) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A picture's bytes. A band of the screen is some ten megabytes that the grab writes in full:
// clearing them first costs as much as a third of the grab.
using PixelBytes = std::vector<std::uint8_t, UnzeroedAllocator<std::uint8_t>>;

// 24 bits per pixel, stored blue, green, red; rows from the top; `stride` bytes per row
// (at least 3 × width).
struct Picture {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    PixelBytes pixels;

    Picture() = default;
    // All black.
    Picture(int w, int h)
        : width(w), height(h), stride(static_cast<std::size_t>(w) * 3),
          pixels(stride * static_cast<std::size_t>(h), 0) {}
    // Pixels left unset, for a writer that sets every one of them before anyone reads it; rows
    // of `rowStride` bytes (at least 3 × w), e.g. a system's padded rows written in place.
    static Picture Unfilled(int w, int h, std::size_t rowStride) {
        Picture p;
        p.width = w;
        p.height = h;
        p.stride = rowStride;
        p.pixels.resize(p.stride * static_cast<std::size_t>(h));
        return p;
    }
    static Picture Unfilled(int w, int h) {
        return Unfilled(w, h, static_cast<std::size_t>(w) * 3);
    }

    bool Empty() const { return width <= 0 || height <= 0; }
    std::uint8_t* Row(int y) { return pixels.data() + stride * static_cast<std::size_t>(y); }
    const std::uint8_t* Row(int y) const {
        return pixels.data() + stride * static_cast<std::size_t>(y);
    }
    std::uint8_t* At(int x, int y) { return Row(y) + 3 * static_cast<std::size_t>(x); }
    const std::uint8_t* At(int x, int y) const { return Row(y) + 3 * static_cast<std::size_t>(x); }
};

} // namespace glimmerly
