#include "imaging/pixel_order.h"

#include <tmmintrin.h>

#include <algorithm>
#include <cstring>

namespace glimmerly {

namespace {

void SwapScalar(const std::uint8_t* s, std::uint8_t* d, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, s += 3, d += 3) {
        const std::uint8_t first = s[0];
        d[0] = s[2];
        d[1] = s[1];
        d[2] = first;
    }
}

// Five pixels per 16-byte shuffle; the sixteenth byte is copied unchanged and rewritten by the
// next step (or the scalar tail).
__attribute__((target("ssse3"))) void SwapSsse3(const std::uint8_t* s, std::uint8_t* d,
                                                std::size_t pixels) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t i = 0;
    for (; i + 6 <= pixels; i += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 3 * i), _mm_shuffle_epi8(v, order));
    }
    SwapScalar(s + 3 * i, d + 3 * i, pixels - i);
}

void DropScalar(const std::uint8_t* s, std::uint8_t* d, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, s += 4, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    }
}

// Sixteen pixels per step: four shuffles pack 4 x 12 bytes, three stores write them.
__attribute__((target("ssse3"))) void DropSsse3(const std::uint8_t* s, std::uint8_t* d,
                                                std::size_t pixels) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    std::size_t i = 0;
    for (; i + 16 <= pixels; i += 16, s += 64, d += 48) {
        const __m128i a =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), pack);
        const __m128i b =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)), pack);
        const __m128i c =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32)), pack);
        const __m128i e =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 48)), pack);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16),
                         _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32),
                         _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(e, 4)));
    }
    DropScalar(s, d, pixels - i);
}

bool HasSsse3() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

const bool hasSsse3 = HasSsse3();

} // namespace

void SwapRedAndBlue(const std::uint8_t* source, std::uint8_t* target, std::size_t pixels) {
    if (!hasSsse3) {
        SwapScalar(source, target, pixels);
    } else if (source != target) {
        SwapSsse3(source, target, pixels);
    } else {
        // In place, each load would overlap the store before it and wait for it; going through
        // a small buffer keeps loads and stores apart.
        constexpr std::size_t kBlock = 1024;
        std::uint8_t buffer[kBlock * 3];
        for (std::size_t done = 0; done < pixels; done += kBlock) {
            const std::size_t n = std::min(kBlock, pixels - done);
            SwapSsse3(target + 3 * done, buffer, n);
            std::memcpy(target + 3 * done, buffer, n * 3);
        }
    }
}

void DropFourthByte(const std::uint8_t* source, std::uint8_t* target, std::size_t pixels) {
    if (hasSsse3) {
        DropSsse3(source, target, pixels);
    } else {
        DropScalar(source, target, pixels);
    }
}

} // namespace glimmerly
