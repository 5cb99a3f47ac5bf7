// The filter kernels of the scaler and their table. Each kernel evaluates in extended precision
// and rounds its result to single precision, so every build gives the same weights.

#include "imaging/resample.h"

#include <cmath>

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

} // namespace glimmerly
