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
// extended sum. The two can only part where the double lands exactly on a point halfway between
// two single-precision values (double rounding). The fast loops therefore flag every such tie
// and redo the affected pixels in extended precision; lists whose weights are extreme (tiny,
// huge or not finite) are handled in extended precision throughout.

#include "imaging/resample.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace glimmerly {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;
constexpr long double kTwoThirds = 2.0L / 3.0L;
constexpr long double kOneSixth = 1.0L / 6.0L;
constexpr long double kSixteenThirds = 16.0L / 3.0L;
constexpr long double kMinusSevenThirds = -7.0L / 3.0L;
constexpr long double kThirtyTwoThirds = 32.0L / 3.0L;

// sin(πy)/(πy) with πy rounded to single precision; the quotient stays extended.
long double Sinc(float y) {
    if (y == 0.0f) {
        return 1.0L;
    }
    const float z = static_cast<float>(kPi * y);
    return std::sin(static_cast<long double>(z)) / z;
}

} // namespace

float BoxFilter(float x) {
    return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
}

float TriangleFilter(float x) {
    const long double t = std::fabs(x);
    return t < 1.0L ? static_cast<float>(1.0L - t) : 0.0f;
}

float HermiteFilter(float x) {
    const long double t = std::fabs(x);
    if (t < 1.0L) {
        return static_cast<float>((2.0L * t - 3.0L) * (t * t) + 1.0L);
    }
    return 0.0f;
}

float BellFilter(float x) {
    const long double t = std::fabs(x);
    if (t < 0.5L) {
        return static_cast<float>(0.75L - t * t);
    }
    if (t < 1.5L) {
        const float u = static_cast<float>(t - 1.5L);
        return static_cast<float>(0.5L * (static_cast<long double>(u) * u));
    }
    return 0.0f;
}

float BSplineFilter(float x) {
    const long double t = std::fabs(x);
    if (t < 1.0L) {
        const float tt = static_cast<float>(t * t);
        return static_cast<float>(0.5L * tt * t - tt + kTwoThirds);
    }
    if (t < 2.0L) {
        const float u = static_cast<float>(2.0L - t);
        return static_cast<float>(kOneSixth * (static_cast<long double>(u) * u) * u);
    }
    return 0.0f;
}

float Lanczos3Filter(float x) {
    const float t = std::fabs(x);
    if (t < 3.0f) {
        const float first = static_cast<float>(Sinc(t));
        const float third = static_cast<float>(static_cast<long double>(t) / 3.0L);
        return static_cast<float>(first * Sinc(third));
    }
    return 0.0f;
}

float MitchellFilter(float x) {
    const long double t = std::fabs(x);
    const float tt = static_cast<float>(t * t);
    if (t < 1.0L) {
        const float numerator =
            static_cast<float>(7.0L * (t * tt) + (-12.0L * tt) + kSixteenThirds);
        return static_cast<float>(numerator / 6.0L);
    }
    if (t < 2.0L) {
        const float numerator = static_cast<float>(kMinusSevenThirds * (t * tt) + 12.0L * tt +
                                                   (-20.0L * t) + kThirtyTwoThirds);
        return static_cast<float>(numerator / 6.0L);
    }
    return 0.0f;
}

const std::array<FilterEntry, 7> FilterTable = {{
    {"Box", BoxFilter, 0.5f},
    {"Triangle", TriangleFilter, 1.0f},
    {"Hermite", HermiteFilter, 1.0f},
    {"Bell", BellFilter, 1.5f},
    {"B-Spline", BSplineFilter, 2.0f},
    {"Lanczos3", Lanczos3Filter, 3.0f},
    {"Mitchell", MitchellFilter, 2.0f},
}};

namespace {

// Contribution lists of one pass, one after the other: list i holds the entries
// first[i] .. first[i + 1] - 1. Weights are single-precision values, kept as doubles (exactly)
// for the per-pixel loops.
struct ContributionLists {
    std::vector<std::int32_t> first;
    std::vector<std::int32_t> index;
    std::vector<double> weight;
    bool fastSafe = true; // every weight suits the double loops (see the top of this file)
};

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
            const float magnitude = std::fabs(weight);
            if (!(magnitude >= 0x1p-60f && magnitude <= 0x1p60f)) {
                lists.fastSafe = false;
            }
        }
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

// Twelve independent sums over one contribution list: value v of contribution j is
// base[offset[j] + v]. The results are the sums converted to bytes.
constexpr int kLanes = 12;

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

// Returns false when some sum met a tie of single precision; `out` is then not valid.
bool AccumulateFast(const float* base, const std::ptrdiff_t* offset, const double* weight,
                    int count, std::int32_t* out) {
    __m128d a0 = _mm_setzero_pd(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0;
    __m128i ties = _mm_setzero_si128();
    // A double is halfway between two floats when its low 29 mantissa bits are 1 followed by
    // zeros, that is when its low 32 bits shifted left by 3 equal 0x80000000. The high halves
    // match that pattern only for magnitudes far outside the range of these sums.
    const __m128i tie = _mm_set1_epi32(static_cast<int>(0x80000000u));
    for (int j = 0; j < count; ++j) {
        const float* s = base + offset[j];
        const __m128d w = _mm_set1_pd(weight[j]);
#define GLIMMERLY_STEP(acc, k)                                                                     \
    {                                                                                              \
        const __m128d v = _mm_cvtps_pd(                                                            \
            _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + (k)))));         \
        const __m128d t = _mm_add_pd(acc, _mm_mul_pd(v, w));                                       \
        ties = _mm_or_si128(ties, _mm_cmpeq_epi32(_mm_slli_epi32(_mm_castpd_si128(t), 3), tie));   \
        acc = _mm_cvtps_pd(_mm_cvtpd_ps(t));                                                       \
    }
        GLIMMERLY_STEP(a0, 0)
        GLIMMERLY_STEP(a1, 2)
        GLIMMERLY_STEP(a2, 4)
        GLIMMERLY_STEP(a3, 6)
        GLIMMERLY_STEP(a4, 8)
        GLIMMERLY_STEP(a5, 10)
#undef GLIMMERLY_STEP
    }
    if (_mm_movemask_epi8(ties) != 0) {
        return false;
    }
    // Clamp to 0..255, then round to the nearest integer, halves to even (the default mode).
    const __m128d low = _mm_setzero_pd();
    const __m128d high = _mm_set1_pd(255.0);
    const __m128d sums[6] = {a0, a1, a2, a3, a4, a5};
    for (int k = 0; k < 6; ++k) {
        const __m128i r = _mm_cvtpd_epi32(_mm_min_pd(_mm_max_pd(sums[k], low), high));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * k), r);
    }
    return true;
}

inline void Accumulate(const float* base, const std::ptrdiff_t* offset, const double* weight,
                       int count, bool fastSafe, std::int32_t* out) {
    if (!fastSafe || !AccumulateFast(base, offset, weight, count, out)) {
        AccumulateExact(base, offset, weight, count, out);
    }
}

// Lays four rows of bytes side by side as floats: out[k * 4 + r] = row r, byte k.
void InterleaveRows(const std::uint8_t* const rows[4], std::size_t length, float* out) {
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
        float* o = out + k * 4;
        for (const __m128i& q : quads) {
            const __m128i wordsLow = _mm_unpacklo_epi8(q, zero);
            const __m128i wordsHigh = _mm_unpackhi_epi8(q, zero);
            _mm_storeu_ps(o, _mm_cvtepi32_ps(_mm_unpacklo_epi16(wordsLow, zero)));
            _mm_storeu_ps(o + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(wordsLow, zero)));
            _mm_storeu_ps(o + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(wordsHigh, zero)));
            _mm_storeu_ps(o + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(wordsHigh, zero)));
            o += 16;
        }
    }
    for (; k < length; ++k) {
        for (int r = 0; r < 4; ++r) {
            out[k * 4 + r] = rows[r][k];
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
    // first pass, exactly), rows padded to whole groups of twelve values.
    const std::size_t rowValues = static_cast<std::size_t>(dw) * 3;
    const std::size_t workStride = (rowValues + kLanes - 1) / kLanes * kLanes;
    std::vector<float> work(workStride * static_cast<std::size_t>(sh));

    {
        const ContributionLists columns = BuildContributions(dw, sw, kernel, supportWidth);
        std::vector<std::ptrdiff_t> offset(columns.index.size());
        for (std::size_t k = 0; k < offset.size(); ++k) {
            offset[k] = static_cast<std::ptrdiff_t>(columns.index[k]) * kLanes;
        }
        // Four source rows at a time; each pixel's three bytes of the four rows make the twelve
        // values of one step.
        const std::size_t sourceValues = static_cast<std::size_t>(sw) * 3;
        std::vector<float> group(sourceValues * 4);
        std::vector<std::uint8_t> blank(sourceValues);
        std::int32_t out[kLanes];
        for (int y0 = 0; y0 < sh; y0 += 4) {
            const int rows = std::min(4, sh - y0);
            const std::uint8_t* rowPointers[4];
            for (int r = 0; r < 4; ++r) {
                rowPointers[r] = r < rows ? source.Row(y0 + r) : blank.data();
            }
            InterleaveRows(rowPointers, sourceValues, group.data());
            for (int i = 0; i < dw; ++i) {
                const std::int32_t first = columns.first[i];
                Accumulate(group.data(), offset.data() + first, columns.weight.data() + first,
                           columns.first[i + 1] - first, columns.fastSafe, out);
                for (int r = 0; r < rows; ++r) {
                    float* target = work.data() + (static_cast<std::size_t>(y0) + r) * workStride +
                                    static_cast<std::size_t>(i) * 3;
                    for (int c = 0; c < 3; ++c) {
                        target[c] = static_cast<float>(out[c * 4 + r]);
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
                       rows.fastSafe, out);
            const std::size_t n = std::min<std::size_t>(kLanes, rowValues - k);
            for (std::size_t v = 0; v < n; ++v) {
                target[k + v] = static_cast<std::uint8_t>(out[v]);
            }
        }
    }
}

} // namespace glimmerly
