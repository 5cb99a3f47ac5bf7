#pragma once
// Binary PPM (P6, 8-bit) files for the benchmarks: the reference tools read the same pixels.

#include <cstdio>
#include <stdexcept>
#include <string>

#include <vector>

#include "imaging/picture.h"
#include "imaging/pixel_order.h"

namespace glimmerly::bench {

// Reads red, green, blue and stores blue, green, red.
inline Picture ReadPpm(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        throw std::runtime_error("cannot open " + path);
    }
    int width = 0, height = 0, maxval = 0;
    if (std::fscanf(f, "P6 %d %d %d", &width, &height, &maxval) != 3 || maxval != 255 ||
        std::fgetc(f) == EOF || width <= 0 || height <= 0) {
        std::fclose(f);
        throw std::runtime_error("not an 8-bit P6 file: " + path);
    }
    Picture p(width, height);
    const bool ok = std::fread(p.pixels.data(), 1, p.pixels.size(), f) == p.pixels.size();
    std::fclose(f);
    if (!ok) {
        throw std::runtime_error("short PPM file: " + path);
    }
    SwapRedAndBlue(p.pixels.data(), p.pixels.data(), p.pixels.size() / 3);
    return p;
}

inline void WritePpm(const std::string& path, const Picture& p) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    std::fprintf(f, "P6\n%d %d\n255\n", p.width, p.height);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(p.width) * 3);
    for (int y = 0; y < p.height; ++y) {
        SwapRedAndBlue(p.Row(y), row.data(), static_cast<std::size_t>(p.width));
        std::fwrite(row.data(), 1, row.size(), f);
    }
    if (std::fclose(f) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace glimmerly::bench
