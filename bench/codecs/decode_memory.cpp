// Peak memory of decoding dropped picture files, one file per process.
//
//   decode_memory make DIR     writes the worst cases (and genuine large pictures) into DIR
//   decode_memory measure FILE decodes FILE (.jpg or .bmp) and prints one line:
//                              file bytes, peak resident memory before and after the decode
//                              (MiB), the decode's wall time (s), and the outcome: the size and
//                              a hash of the pixels, or the error.
//
// bench/codecs/run-decode-memory.sh runs both and prints the table.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "codecs/bmp_decoder.h"
#include "codecs/jpeg_decoder.h"
#include "tests/codecs/hostile_files.h"

using namespace glimmerly;
using test::Bytes;
using test::JpegRecipe;

namespace {

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
    std::printf("%-28s %10zu bytes\n", path.substr(path.rfind('/') + 1).c_str(), data.size());
}

// A small file of the recipe with the size of a large one written into its header.
Bytes Claiming(JpegRecipe recipe, int width, int height) {
    Bytes file = test::FlatJpeg(recipe);
    test::SetFrameSize(file, width, height);
    return file;
}

void Make(const std::string& dir) {
    const int side = 8192; // 2^26 pixels, the pixel cap
    auto at = [&dir](const char* name) { return dir + "/" + name; };
    // Arithmetic coding: a flat picture of any size fits in a few hundred bytes.
    WriteFile(at("arith-8192.jpg"), test::FlatJpeg({side, side, true}));
    WriteFile(at("arith-prog444-8192.jpg"), test::FlatJpeg({side, side, true, true, true}));
    // Huffman-coded files whose header claims far more blocks than their data holds.
    WriteFile(at("claims-base-8192.jpg"), Claiming({64, 64}, side, side));
    WriteFile(at("claims-prog444-8192.jpg"), Claiming({64, 64, false, true, true}, side, side));
    // Genuine flat pictures with the fewest bits per block.
    WriteFile(at("flat-base-8192.jpg"), test::FlatJpeg({side, side, false, false, false, true}));
    WriteFile(at("flat-prog444-8192.jpg"), test::FlatJpeg({side, side, false, true, true, true}));
    WriteFile(at("flat-prog444-5400.jpg"), test::FlatJpeg({5400, 5400, false, true, true, true}));
    WriteFile(at("flat-prog420-8000x6000.jpg"),
              test::FlatJpeg({8000, 6000, false, true, false, true}));
    // Within the budget and the scan limit, but with 946 scans: each a pass over the picture.
    JpegRecipe manyScans{2000, 2000, false, true, true, true};
    manyScans.approximation = 4;
    WriteFile(at("scans946-prog444-2000.jpg"), test::FlatJpeg(manyScans));
    // A genuine large photograph, which must decode as before.
    WriteFile(at("photo-base-8000x6000.jpg"), test::PhotoLikeJpeg({8000, 6000, false}));
    // BMP: one bit per pixel up to the pixel cap, and a side longer than JPEG can take.
    WriteFile(at("onebit-8192.bmp"), test::OneBitBmp(side, side));
    WriteFile(at("wide-70000.bmp"), test::OneBitBmp(70000, 1));
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::uint64_t Fnv1a(const Picture& p) {
    std::uint64_t hash = 14695981039346656037ull;
    for (int y = 0; y < p.height; ++y) {
        const std::uint8_t* row = p.Row(y);
        for (std::size_t i = 0; i < static_cast<std::size_t>(p.width) * 3; ++i)
            hash = (hash ^ row[i]) * 1099511628211ull;
    }
    return hash;
}

void Measure(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool bmp = path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0;
    const long before = PeakKiB();
    const auto start = std::chrono::steady_clock::now();
    std::string outcome;
    try {
        const Picture p =
            bmp ? DecodeBmp(data.data(), data.size()) : DecodeJpeg(data.data(), data.size());
        char text[96];
        std::snprintf(text, sizeof text, "%dx%d %016llx", p.width, p.height,
                      static_cast<unsigned long long>(Fnv1a(p)));
        outcome = text;
    } catch (const std::exception& e) {
        outcome = std::string("error: ") + e.what();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-28s %10zu %8.1f %8.1f %7.2f  %s\n", path.substr(path.rfind('/') + 1).c_str(),
                data.size(), before / 1024.0, PeakKiB() / 1024.0, seconds, outcome.c_str());
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && std::strcmp(argv[1], "make") == 0) {
            Make(argv[2]);
            return 0;
        }
        if (argc == 3 && std::strcmp(argv[1], "measure") == 0) {
            Measure(argv[2]);
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "decode_memory: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: decode_memory make DIR | measure FILE\n");
    return 2;
}
