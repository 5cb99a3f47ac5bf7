#include "tests/codecs/jpeg_test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include <jpeglib.h>

namespace glimmerly::test {

Picture DesktopLike(int width, int height, unsigned seed) {
    Picture p(width, height);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = p.At(x, y);
            px[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
            px[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1));
            px[2] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
            if ((x / 16 + y / 16) % 3 == 0) {
                px[0] = px[1] = px[2] = 240; // window background
            }
            if ((x % 7 == 0 && y % 5 < 3) || random() % 50 == 0) {
                px[0] = px[1] = px[2] = static_cast<std::uint8_t>(random() % 64); // "text"
            }
        }
    }
    return p;
}

std::vector<Segment> ParseSegments(const std::vector<std::uint8_t>& f) {
    std::vector<Segment> segments;
    if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) {
        return {};
    }
    segments.push_back({0xD8, {}});
    std::size_t k = 2;
    bool inScan = false;
    while (k + 1 < f.size()) {
        if (inScan) {
            // Skip entropy-coded bytes: 0xFF00 is a stuffed byte, 0xFFD0..D7 restart markers.
            if (f[k] == 0xFF && f[k + 1] != 0x00 && !(f[k + 1] >= 0xD0 && f[k + 1] <= 0xD7)) {
                inScan = false;
            } else {
                ++k;
                continue;
            }
        }
        if (f[k] != 0xFF) {
            return {};
        }
        const int marker = f[k + 1];
        if (marker == 0xD9) {
            segments.push_back({0xD9, {}});
            return k + 2 == f.size() ? segments : std::vector<Segment>{};
        }
        if (k + 3 >= f.size()) {
            return {};
        }
        const std::size_t length = f[k + 2] * 256u + f[k + 3];
        if (length < 2 || k + 2 + length > f.size()) {
            return {};
        }
        segments.push_back(
            {marker, std::vector<std::uint8_t>(f.begin() + k + 4, f.begin() + k + 2 + length)});
        k += 2 + length;
        inScan = marker == 0xDA;
    }
    return {};
}

RgbImage PlainDecode(const std::vector<std::uint8_t>& file) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), file.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    RgbImage image;
    image.width = static_cast<int>(cinfo.output_width);
    image.height = static_cast<int>(cinfo.output_height);
    image.components = cinfo.output_components;
    image.samples.resize(static_cast<std::size_t>(image.width) * image.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.samples.data() +
                       static_cast<std::size_t>(cinfo.output_scanline) * image.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return image;
}

std::vector<std::uint8_t> PlainEncode(int width, int height, int components,
                                      const std::vector<std::uint8_t>& samples, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    if (quality > 0)
        jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(samples.data()) +
                       static_cast<std::size_t>(cinfo.next_scanline) * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

std::string TempPath(const std::string& name) {
    const char* base = std::getenv("TMPDIR");
    return std::string(base != nullptr ? base : "/tmp") + "/glimmerly-jpeg-" +
           std::to_string(::getpid()) + "-" + name;
}

} // namespace glimmerly::test
