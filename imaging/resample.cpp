// Two-pass filtered scaler.
//
// The arithmetic follows fixed precision rules so that every build gives the same bytes: the
// kernels work in extended precision (long double) and round their result to single precision;
// the sums of a pass are single-precision values that are rounded after every addition of a
// (byte × weight) product computed in extended precision.
//
// The per-pixel loops do not use long double, though. A byte times a single-precision weight is
// exact in double, and so is the sum with a single-precision value as long as it fits into 53
// bits; rounding that double to single precision then gives the same value as rounding the
// extended sum. For most contribution lists that holds for every addition: all the values are
// multiples of the smallest weight's last bit and no larger than 255 times the sum of the
// weights, which is checked once per list. For the other lists the double and the extended sum
// can only part where the double lands exactly on a point halfway between two single-precision
// values (double rounding); the loops flag every such tie and redo the affected pixels in
// extended precision. Lists with extreme weights (tiny, huge or not finite) are handled in
// extended precision throughout.

#include "imaging/resample.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace glimmerly {

namespace {

// Contribution lists of one pass, one after the other: list i holds the entries
// first[i] .. first[i + 1] - 1. Weights are single-precision values, kept as doubles (exactly)
// for the per-pixel loops.
enum class SumMode : std::uint8_t {
    Exact,    // every double addition is exact
    Checked,  // double additions, with ties of single precision redone in extended precision
    Extended, // extended precision throughout
};

struct ContributionLists {
    std::vector<std::int32_t> first;
    std::vector<std::int32_t> index;
    std::vector<double> weight;
    std::vector<SumMode> mode; // one per list
};

SumMode ModeOf(const double* weight, std::size_t count) {
    long double total = 0.0L;
    int lowestBit = std::numeric_limits<int>::max();
    for (std::size_t j = 0; j < count; ++j) {
        const double magnitude = std::fabs(weight[j]);
        if (!(magnitude >= 0x1p-60 && magnitude <= 0x1p60)) {
            return SumMode::Extended;
        }
        total += magnitude;
        int exponent;
        std::frexp(weight[j], &exponent);
        lowestBit = std::min(lowestBit, exponent - 24); // weights have 24-bit mantissas
    }
    // Partial sums may exceed 255 × total by their rounding, at most 2^-24 per addition.
    const long double bound =
        255.0L * total * (1.0L + static_cast<long double>(count) * 0x1p-23L) * 2.0L;
    return bound < std::ldexp(1.0L, lowestBit + 53) ? SumMode::Exact : SumMode::Checked;
}

// The table's kernels are 0 for |x| beyond their support, so positions further out need not be
// evaluated; for any other kernel every position of the window is asked.
long double KnownReach(FilterKernel kernel) {
    for (const FilterEntry& entry : FilterTable) {
        if (entry.kernel == kernel) {
            return entry.supportWidth;
        }
    }
    return std::numeric_limits<long double>::infinity();
}

constexpr std::int64_t kMaxWindow = std::int64_t{1} << 28;

ContributionLists BuildContributions(int destinationSize, int sourceSize, FilterKernel kernel,
                                     float supportWidth) {
    // The first and the last destination pixel lie over the first and the last source pixel. A
    // single destination pixel has no such pair: it sits over the middle of the source and its
    // footprint spans the whole source.
    float scale;
    bool single = false;
    if (sourceSize == 1) {
        scale = static_cast<float>(static_cast<long double>(destinationSize) / sourceSize);
    } else if (destinationSize == 1) {
        scale = static_cast<float>(1.0L / sourceSize);
        single = true;
    } else {
        scale =
            static_cast<float>(static_cast<long double>(destinationSize - 1) / (sourceSize - 1));
    }
    const bool shrinking = scale < 1.0f;
    const float width = shrinking
                            ? static_cast<float>(static_cast<long double>(supportWidth) / scale)
                            : supportWidth;
    const float fscale = shrinking ? static_cast<float>(1.0L / scale) : 1.0f;
    if (!std::isfinite(width) || !std::isfinite(fscale)) {
        throw std::invalid_argument("Filter support too wide for this picture");
    }
    const long double reach = KnownReach(kernel);
    const long double reachDistance = shrinking ? reach * fscale * 1.001L + 1.0L : reach + 1.0L;

    ContributionLists lists;
    lists.first.reserve(static_cast<std::size_t>(destinationSize) + 1);
    for (int i = 0; i < destinationSize; ++i) {
        lists.first.push_back(static_cast<std::int32_t>(lists.index.size()));
        const float center = single ? static_cast<float>((sourceSize - 1) / 2.0L)
                                    : static_cast<float>(static_cast<long double>(i) / scale);
        long double low = std::floor(static_cast<long double>(center) - width);
        long double high = std::ceil(static_cast<long double>(center) + width);
        if (std::isfinite(reach)) {
            low = std::max(low, std::floor(center - reachDistance));
            high = std::min(high, std::ceil(center + reachDistance));
        }
        if (high - low + 1 > kMaxWindow) {
            throw std::invalid_argument("Filter support too wide for this picture");
        }
        const auto left = static_cast<std::int64_t>(low);
        const auto right = static_cast<std::int64_t>(high);
        for (std::int64_t j = left; j <= right; ++j) {
            float weight;
            if (shrinking) {
                const float x = static_cast<float>((static_cast<long double>(center) - j) / fscale);
                weight = static_cast<float>(static_cast<long double>(kernel(x)) / fscale);
            } else {
                weight = kernel(static_cast<float>(static_cast<long double>(center) - j));
            }
            if (weight == 0.0f) {
                continue;
            }
            // Mirror once at the edges; what is still outside (a window wider than the
            // picture) is taken from the nearest edge.
            std::int64_t n = j;
            if (n < 0) {
                n = -n;
            } else if (n >= sourceSize) {
                n = 2 * std::int64_t{sourceSize} - 1 - n;
            }
            n = std::clamp<std::int64_t>(n, 0, sourceSize - 1);
            lists.index.push_back(static_cast<std::int32_t>(n));
            lists.weight.push_back(weight);
        }
        lists.mode.push_back(ModeOf(lists.weight.data() + lists.first.back(),
                                    lists.weight.size() - lists.first.back()));
    }
    lists.first.push_back(static_cast<std::int32_t>(lists.index.size()));
    return lists;
}

inline std::int32_t ToByte(float sum) {
    if (sum > 255.0f) {
        return 255;
    }
    if (!(sum >= 0.0f)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::nearbyint(sum)); // halves to even
}

// Twenty-four independent sums over one contribution list: value v of contribution j is
// base[offset[j] + v]. The results are the sums converted to bytes. Many sums at once keep the
// processor busy while each one waits for its rounding.
constexpr int kLanes = 24;
constexpr int kRowsPerGroup = kLanes / 3;

void AccumulateExact(const float* base, const std::ptrdiff_t* offset, const double* weight,
                     int count, std::int32_t* out) {
    for (int v = 0; v < kLanes; ++v) {
        float sum = 0.0f;
        for (int j = 0; j < count; ++j) {
            sum = static_cast<float>(static_cast<long double>(sum) +
                                     static_cast<long double>(base[offset[j] + v]) *
                                         static_cast<long double>(weight[j]));
        }
        out[v] = ToByte(sum);
    }
}

// Returns false when some sum met a tie of single precision (checked only when asked to); `out`
// is then not valid.
template <bool CheckTies>
bool AccumulateFast(const float* base, const std::ptrdiff_t* offset, const double* weight,
                    int count, std::int32_t* out) {
    constexpr int kVectors = kLanes / 2;
    __m128d acc[kVectors];
#pragma GCC unroll 16
    for (int q = 0; q < kVectors; ++q) {
        acc[q] = _mm_setzero_pd();
    }
    __m128i ties = _mm_setzero_si128();
    // A double is halfway between two floats when its low 29 mantissa bits are 1 followed by
    // zeros, that is when its low 32 bits shifted left by 3 equal 0x80000000. The high halves
    // match that pattern only for magnitudes far outside the range of these sums.
    const __m128i tie = _mm_set1_epi32(static_cast<int>(0x80000000u));
    for (int j = 0; j < count; ++j) {
        const float* s = base + offset[j];
        const __m128d w = _mm_set1_pd(weight[j]);
#pragma GCC unroll 16
        for (int q = 0; q < kVectors; ++q) {
            const __m128d v = _mm_cvtps_pd(
                _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + 2 * q))));
            const __m128d t = _mm_add_pd(acc[q], _mm_mul_pd(v, w));
            if (CheckTies) {
                ties = _mm_or_si128(ties,
                                    _mm_cmpeq_epi32(_mm_slli_epi32(_mm_castpd_si128(t), 3), tie));
            }
            acc[q] = _mm_cvtps_pd(_mm_cvtpd_ps(t));
        }
    }
    if (CheckTies && _mm_movemask_epi8(ties) != 0) {
        return false;
    }
    // Clamp to 0..255, then round to the nearest integer, halves to even (the default mode).
    const __m128d low = _mm_setzero_pd();
    const __m128d high = _mm_set1_pd(255.0);
#pragma GCC unroll 16
    for (int q = 0; q < kVectors; ++q) {
        const __m128i r = _mm_cvtpd_epi32(_mm_min_pd(_mm_max_pd(acc[q], low), high));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * q), r);
    }
    return true;
}

// The same steps four lanes at a time, for processors with AVX2 (chosen at run time); the
// operations and their rounding are the same, so are the results.
template <bool CheckTies>
__attribute__((target("avx2"))) bool AccumulateAvx2(const float* base, const std::ptrdiff_t* offset,
                                                    const double* weight, int count,
                                                    std::int32_t* out) {
    constexpr int kVectors = kLanes / 4;
    __m256d acc[kVectors];
#pragma GCC unroll 8
    for (int q = 0; q < kVectors; ++q) {
        acc[q] = _mm256_setzero_pd();
    }
    __m256i ties = _mm256_setzero_si256();
    const __m256i tie = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    for (int j = 0; j < count; ++j) {
        const float* s = base + offset[j];
        const __m256d w = _mm256_broadcast_sd(weight + j);
#pragma GCC unroll 8
        for (int q = 0; q < kVectors; ++q) {
            const __m256d v = _mm256_cvtps_pd(_mm_loadu_ps(s + 4 * q));
            const __m256d t = _mm256_add_pd(acc[q], _mm256_mul_pd(v, w));
            if (CheckTies) {
                ties = _mm256_or_si256(
                    ties, _mm256_cmpeq_epi32(_mm256_slli_epi32(_mm256_castpd_si256(t), 3), tie));
            }
            acc[q] = _mm256_cvtps_pd(_mm256_cvtpd_ps(t));
        }
    }
    if (CheckTies && _mm256_movemask_epi8(ties) != 0) {
        return false;
    }
    const __m256d low = _mm256_setzero_pd();
    const __m256d high = _mm256_set1_pd(255.0);
#pragma GCC unroll 8
    for (int q = 0; q < kVectors; ++q) {
        const __m128i r = _mm256_cvtpd_epi32(_mm256_min_pd(_mm256_max_pd(acc[q], low), high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * q), r);
    }
    return true;
}

bool DetectAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool useAvx2 = DetectAvx2();

inline void Accumulate(const float* base, const std::ptrdiff_t* offset, const double* weight,
                       int count, SumMode mode, std::int32_t* out) {
    switch (mode) {
    case SumMode::Exact:
        if (useAvx2) {
            AccumulateAvx2<false>(base, offset, weight, count, out);
        } else {
            AccumulateFast<false>(base, offset, weight, count, out);
        }
        return;
    case SumMode::Checked:
        if (useAvx2 ? AccumulateAvx2<true>(base, offset, weight, count, out)
                    : AccumulateFast<true>(base, offset, weight, count, out)) {
            return;
        }
        break;
    case SumMode::Extended:
        break;
    }
    AccumulateExact(base, offset, weight, count, out);
}

// Lays four rows of bytes side by side as floats: out[k * step + r] = row r, byte k.
void InterleaveRows(const std::uint8_t* const rows[4], std::size_t length, float* out,
                    std::size_t step) {
    std::size_t k = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; k + 16 <= length; k += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[1] + k));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2] + k));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[3] + k));
        const __m128i abLow = _mm_unpacklo_epi8(a, b), abHigh = _mm_unpackhi_epi8(a, b);
        const __m128i cdLow = _mm_unpacklo_epi8(c, d), cdHigh = _mm_unpackhi_epi8(c, d);
        const __m128i quads[4] = {
            _mm_unpacklo_epi16(abLow, cdLow), _mm_unpackhi_epi16(abLow, cdLow),
            _mm_unpacklo_epi16(abHigh, cdHigh), _mm_unpackhi_epi16(abHigh, cdHigh)};
        float* o = out + k * step;
        for (const __m128i& q : quads) {
            const __m128i wordsLow = _mm_unpacklo_epi8(q, zero);
            const __m128i wordsHigh = _mm_unpackhi_epi8(q, zero);
            _mm_storeu_ps(o, _mm_cvtepi32_ps(_mm_unpacklo_epi16(wordsLow, zero)));
            _mm_storeu_ps(o + step, _mm_cvtepi32_ps(_mm_unpackhi_epi16(wordsLow, zero)));
            _mm_storeu_ps(o + 2 * step, _mm_cvtepi32_ps(_mm_unpacklo_epi16(wordsHigh, zero)));
            _mm_storeu_ps(o + 3 * step, _mm_cvtepi32_ps(_mm_unpackhi_epi16(wordsHigh, zero)));
            o += 4 * step;
        }
    }
    for (; k < length; ++k) {
        for (int r = 0; r < 4; ++r) {
            out[k * step + r] = rows[r][k];
        }
    }
}

void CheckBuffer(const Picture& picture, const char* what) {
    const auto width = static_cast<std::size_t>(picture.width);
    const auto height = static_cast<std::size_t>(picture.height);
    if (picture.width < 0 || picture.height < 0 || picture.stride < width * 3 ||
        (height > 0 && picture.pixels.size() < picture.stride * (height - 1) + width * 3)) {
        throw std::invalid_argument(std::string(what) + " picture buffer does not hold its rows");
    }
}

} // namespace

bool UseWideVectorsInStretch(bool use) {
    const bool previous = useAvx2;
    useAvx2 = use && DetectAvx2();
    return previous;
}

void Stretch(Picture& source, Picture& destination, FilterKernel kernel, float supportWidth) {
    if (source.width < 1 || source.height < 1) {
        throw std::runtime_error("Source bitmap too small");
    }
    CheckBuffer(source, "Source");
    CheckBuffer(destination, "Destination");
    if (kernel == nullptr || !(supportWidth >= 0.0f) || !std::isfinite(supportWidth)) {
        throw std::invalid_argument("Invalid filter kernel or support width");
    }
    const int sw = source.width, sh = source.height;
    const int dw = destination.width, dh = destination.height;
    if (dw == 0 || dh == 0) {
        return;
    }

    // Working picture: destination width, source height, one float per byte (the bytes of the
    // first pass, exactly), rows padded to whole groups of values.
    const std::size_t rowValues = static_cast<std::size_t>(dw) * 3;
    const std::size_t workStride = (rowValues + kLanes - 1) / kLanes * kLanes;
    std::vector<float> work(workStride * static_cast<std::size_t>(sh));

    {
        const ContributionLists columns = BuildContributions(dw, sw, kernel, supportWidth);
        std::vector<std::ptrdiff_t> offset(columns.index.size());
        for (std::size_t k = 0; k < offset.size(); ++k) {
            offset[k] = static_cast<std::ptrdiff_t>(columns.index[k]) * kLanes;
        }
        // Several source rows at a time; each pixel's three bytes of those rows make the values of
        // one step.
        const std::size_t sourceValues = static_cast<std::size_t>(sw) * 3;
        std::vector<float> group(sourceValues * kRowsPerGroup);
        std::vector<std::uint8_t> blank(sourceValues);
        std::int32_t out[kLanes];
        for (int y0 = 0; y0 < sh; y0 += kRowsPerGroup) {
            const int rows = std::min(kRowsPerGroup, sh - y0);
            const std::uint8_t* rowPointers[kRowsPerGroup];
            for (int r = 0; r < kRowsPerGroup; ++r) {
                rowPointers[r] = r < rows ? source.Row(y0 + r) : blank.data();
            }
            for (int r = 0; r < kRowsPerGroup; r += 4) {
                InterleaveRows(rowPointers + r, sourceValues, group.data() + r, kRowsPerGroup);
            }
            for (int i = 0; i < dw; ++i) {
                const std::int32_t first = columns.first[i];
                Accumulate(group.data(), offset.data() + first, columns.weight.data() + first,
                           columns.first[i + 1] - first, columns.mode[i], out);
                for (int r = 0; r < rows; ++r) {
                    float* target = work.data() + (static_cast<std::size_t>(y0) + r) * workStride +
                                    static_cast<std::size_t>(i) * 3;
                    for (int c = 0; c < 3; ++c) {
                        target[c] = static_cast<float>(out[c * kRowsPerGroup + r]);
                    }
                }
            }
        }
    }

    const ContributionLists rows = BuildContributions(dh, sh, kernel, supportWidth);
    std::vector<std::ptrdiff_t> offset(rows.index.size());
    for (std::size_t k = 0; k < offset.size(); ++k) {
        offset[k] =
            static_cast<std::ptrdiff_t>(rows.index[k]) * static_cast<std::ptrdiff_t>(workStride);
    }
    std::int32_t out[kLanes];
    for (int i = 0; i < dh; ++i) {
        std::uint8_t* target = destination.Row(i);
        const std::int32_t first = rows.first[i];
        const int count = rows.first[i + 1] - first;
        for (std::size_t k = 0; k < rowValues; k += kLanes) {
            Accumulate(work.data() + k, offset.data() + first, rows.weight.data() + first, count,
                       rows.mode[i], out);
            const std::size_t n = std::min<std::size_t>(kLanes, rowValues - k);
            for (std::size_t v = 0; v < n; ++v) {
                target[k + v] = static_cast<std::uint8_t>(out[v]);
            }
        }
    }
}

} // namespace glimmerly
