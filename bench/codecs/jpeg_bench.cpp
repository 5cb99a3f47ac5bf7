// JPEG encoder timings, driven by bench/run-pictures.sh against cjpeg.
//
//   jpeg_bench file IN.ppm QUALITY OUT.jpg      read, encode, write once (like one cjpeg run)
//   jpeg_bench encode IN.ppm QUALITY REPEATS    in-process Encode() only; prints the median ms
//   jpeg_bench sizeloop IN.ppm OUT.jpg          qualities 60, 56, ..., 4: encode and write each
//   jpeg_bench noise OUT.ppm WIDTH HEIGHT SEED  writes the seeded worst-case noise picture
//                                               (every byte 0 or 255)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/imaging/ppm.h"
#include "codecs/jpeg_encoder.h"

using namespace glimmerly;

namespace {

// Writes the encoding as the upload job does: the whole file at once.
void WriteJpeg(const std::string& path, const std::vector<std::uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 4 && args[0] == "file") {
            JpegEncoder encoder;
            encoder.SetPicture(bench::ReadPpm(args[1]));
            encoder.SetQuality(std::atoi(args[2].c_str()));
            encoder.Encode();
            WriteJpeg(args[3], encoder.Data());
            return 0;
        }
        if (args.size() == 4 && args[0] == "encode") {
            JpegEncoder encoder;
            encoder.SetPicture(bench::ReadPpm(args[1]));
            encoder.SetQuality(std::atoi(args[2].c_str()));
            std::vector<double> ms;
            for (int i = 0; i < std::atoi(args[3].c_str()); ++i) {
                const auto start = std::chrono::steady_clock::now();
                encoder.Encode();
                ms.push_back(std::chrono::duration<double, std::milli>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
            }
            std::sort(ms.begin(), ms.end());
            std::printf("%.3f %zu\n", ms[ms.size() / 2], encoder.Data().size());
            return 0;
        }
        if (args.size() == 3 && args[0] == "sizeloop") {
            JpegEncoder encoder;
            encoder.SetPicture(bench::ReadPpm(args[1]));
            for (int quality = 60; quality >= 4; quality -= 4) {
                encoder.SetQuality(quality);
                encoder.Encode();
                WriteJpeg(args[2], encoder.Data());
                std::printf("%d %zu\n", quality, encoder.Data().size());
            }
            return 0;
        }
        if (args.size() == 5 && args[0] == "noise") {
            Picture p(std::atoi(args[2].c_str()), std::atoi(args[3].c_str()));
            std::mt19937 random(static_cast<unsigned>(std::atoi(args[4].c_str())));
            // Every byte 0 or 255: the largest swings, so that even quality 4 stays far above
            // the upload limit (uniform noise drops below it).
            for (auto& byte : p.pixels) {
                byte = (random() & 1) != 0 ? 255 : 0;
            }
            bench::WritePpm(args[1], p);
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "jpeg_bench: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: see the top of bench/codecs/jpeg_bench.cpp\n");
    return 2;
}
