#pragma once
// Helpers for the JPEG tests: test pictures, a marker parser and a plain libjpeg decoder that
// does not share code with the one under test.

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/picture.h"

namespace glimmerly::test {

// Smooth gradients, hard-edged boxes and some noise, like a desktop in miniature.
Picture DesktopLike(int width, int height, unsigned seed = 1);

struct Segment {
    int marker = 0;                    // second byte of the marker (0xD8 for SOI, ...)
    std::vector<std::uint8_t> payload; // after the length field
};

// The segments of a JPEG file in order; the entropy-coded data after SOS is skipped, so the
// list ends with SOS, then EOI. Returns an empty list when the file is not well formed.
std::vector<Segment> ParseSegments(const std::vector<std::uint8_t>& file);

// Decodes to red, green, blue with the library's own defaults.
struct RgbImage {
    int width = 0, height = 0, components = 0;
    std::vector<std::uint8_t> samples;
};
RgbImage PlainDecode(const std::vector<std::uint8_t>& file);

// Encodes with the library directly: greyscale, red-green-blue or CMYK samples by their count
// per pixel (1, 3 or 4), at `quality` with baseline forced, or at the library's default.
std::vector<std::uint8_t> PlainEncode(int width, int height, int components,
                                      const std::vector<std::uint8_t>& samples, int quality = 0);

std::string TempPath(const std::string& name);

} // namespace glimmerly::test
