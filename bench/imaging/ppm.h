#pragma once
// Binary PPM (P6, 8-bit) files for the benchmarks: the reference tools read the same pixels.

#include <cstdio>
#include <stdexcept>
#include <string>

#include "imaging/picture.h"

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
    for (std::size_t k = 0; k < p.pixels.size(); k += 3) {
        std::swap(p.pixels[k], p.pixels[k + 2]);
    }
    return p;
}

inline void WritePpm(const std::string& path, const Picture& p) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    std::fprintf(f, "P6\n%d %d\n255\n", p.width, p.height);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* px = p.At(x, y);
            const std::uint8_t rgb[3] = {px[2], px[1], px[0]};
            std::fwrite(rgb, 1, 3, f);
        }
    }
    if (std::fclose(f) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace glimmerly::bench
