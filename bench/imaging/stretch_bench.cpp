// Stretch timings, driven by bench/run-pictures.sh against Pillow.
//
//   [STRETCH_BASELINE_VECTORS=1] stretch_bench IN.ppm REPEATS [OUT_PREFIX]
// prints "strip <median ms>" (whole picture to 100x40, Box, support 100: the monitor overview)
// and "lanczos <median ms>" (its left 1920x1080 to 960x540, Lanczos3).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/imaging/ppm.h"
#include "imaging/resample.h"

using namespace glimmerly;

static double Median(int repeats, const std::function<void()>& run) {
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: stretch_bench IN.ppm REPEATS [OUT_PREFIX]\n");
        return 2;
    }
    try {
        if (std::getenv("STRETCH_BASELINE_VECTORS") != nullptr) {
            UseWideVectorsInStretch(false); // the SSE2 loops, as on processors without AVX2
        }
        Picture desktop = bench::ReadPpm(argv[1]);
        const int repeats = std::max(1, std::atoi(argv[2]));
        Picture left(std::min(1920, desktop.width), std::min(1080, desktop.height));
        for (int y = 0; y < left.height; ++y) {
            std::copy(desktop.Row(y), desktop.Row(y) + left.stride, left.Row(y));
        }
        Picture strip(100, 40), half(left.width / 2, left.height / 2);
        std::printf("strip %.3f\n",
                    Median(repeats, [&] { Stretch(desktop, strip, BoxFilter, 100.0f); }));
        std::printf("lanczos %.3f\n",
                    Median(repeats, [&] { Stretch(left, half, Lanczos3Filter, 3.0f); }));
        if (argc > 3) {
            bench::WritePpm(std::string(argv[3]) + "strip.ppm", strip);
            bench::WritePpm(std::string(argv[3]) + "lanczos.ppm", half);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "stretch_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
