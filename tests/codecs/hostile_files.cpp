#include "tests/codecs/hostile_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include <jpeglib.h>

namespace glimmerly::test {

Bytes EncodeJpeg(const JpegRecipe& recipe, const RowPainter& paint) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(recipe.width);
    cinfo.image_height = static_cast<JDIMENSION>(recipe.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, recipe.quality, TRUE);
    cinfo.arith_code = recipe.arithmetic ? TRUE : FALSE;
    cinfo.optimize_coding = recipe.optimize && !recipe.arithmetic ? TRUE : FALSE;
    if (recipe.fullChroma) {
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    cinfo.restart_interval = static_cast<unsigned>(recipe.restartInterval);
    if (recipe.progressive)
        jpeg_simple_progression(&cinfo);
    std::vector<jpeg_scan_info> scans;
    if (recipe.approximation > 0 || recipe.scans > 0) {
        // Each coefficient's first scan, then a scan for each further bit.
        const int coefficients = cinfo.num_components * 63;
        const int steps = std::max(recipe.scans - 1, coefficients);
        scans.push_back({cinfo.num_components, {0, 1, 2, 3}, 0, 0, 0, 0});
        for (int c = 0, n = 0; c < cinfo.num_components; ++c) {
            for (int k = 1; k < 64; ++k, ++n) {
                const int shift = recipe.scans > 0
                                      ? steps / coefficients - 1 + (n < steps % coefficients)
                                      : recipe.approximation;
                scans.push_back({1, {c}, k, k, 0, shift});
                for (int bit = shift; bit > 0; --bit)
                    scans.push_back({1, {c}, k, k, bit, bit - 1});
            }
        }
        cinfo.scan_info = scans.data();
        cinfo.num_scans = static_cast<int>(scans.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(recipe.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        paint(static_cast<int>(cinfo.next_scanline), row.data());
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

Bytes FlatJpeg(const JpegRecipe& recipe) {
    const std::size_t samples = static_cast<std::size_t>(recipe.width) * 3;
    return EncodeJpeg(recipe, [samples](int, std::uint8_t* rgb) {
        std::fill(rgb, rgb + samples, std::uint8_t{128});
    });
}

Bytes PhotoLikeJpeg(const JpegRecipe& recipe) {
    std::mt19937 random(7);
    const int w = recipe.width, h = recipe.height;
    return EncodeJpeg(recipe, [&](int y, std::uint8_t* rgb) {
        for (int x = 0; x < w; ++x, rgb += 3) {
            const int noise = static_cast<int>(random() % 24);
            rgb[0] = static_cast<std::uint8_t>(x * 200 / w + noise);
            rgb[1] = static_cast<std::uint8_t>(y * 200 / h + noise);
            rgb[2] = static_cast<std::uint8_t>(((x / 97 + y / 61) % 2) * 120 + noise);
        }
    });
}

namespace {

// Where the first frame header (SOF0 to SOF15) begins, walking the segments from the start;
// nullopt when they do not lead to one.
std::optional<std::size_t> FrameHeader(const Bytes& file) {
    for (std::size_t k = 2; k + 9 < file.size();) {
        if (file[k] != 0xFF)
            break;
        const int marker = file[k + 1];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return k;
        k += 2 + (file[k + 2] << 8 | file[k + 3]);
    }
    return std::nullopt;
}

} // namespace

void SetFrameSize(Bytes& file, int width, int height) {
    const std::optional<std::size_t> k = FrameHeader(file);
    if (!k)
        throw std::invalid_argument("no frame header");
    // Marker, length, precision, height, width.
    file[*k + 5] = static_cast<std::uint8_t>(height >> 8);
    file[*k + 6] = static_cast<std::uint8_t>(height);
    file[*k + 7] = static_cast<std::uint8_t>(width >> 8);
    file[*k + 8] = static_cast<std::uint8_t>(width);
}

std::optional<std::pair<int, int>> FrameSize(const Bytes& file) {
    const std::optional<std::size_t> k = FrameHeader(file);
    if (!k)
        return std::nullopt;
    return std::pair{file[*k + 7] << 8 | file[*k + 8], file[*k + 5] << 8 | file[*k + 6]};
}

Bytes OneBitBmp(int width, int height) {
    const std::size_t rowSize = (static_cast<std::size_t>(width) + 31) / 32 * 4;
    const std::size_t offset = 14 + 40 + 2 * 4;
    Bytes b(offset + rowSize * static_cast<std::size_t>(height));
    auto put = [&b](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, static_cast<std::uint32_t>(b.size()), 4);
    put(10, static_cast<std::uint32_t>(offset), 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, 1, 2);
    put(46, 2, 4);
    put(58, 0xFFFFFF, 4); // entry 0 black, entry 1 white
    for (int y = 0; y < height; ++y) {
        if (y / 4 % 2 == 0) {
            std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(offset + rowSize * y), rowSize,
                        std::uint8_t{0x0F});
        }
    }
    return b;
}

} // namespace glimmerly::test
