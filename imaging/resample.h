#pragma once
// Two-pass filtered picture scaler with its table of filter kernels (no Qt).

#include <array>

#include "imaging/picture.h"

namespace glimmerly {

// A kernel maps a distance in source pixels to a weight; it is 0 beyond its support width.
using FilterKernel = float (*)(float);

float BoxFilter(float x);
float TriangleFilter(float x);
float HermiteFilter(float x);
float BellFilter(float x);
float BSplineFilter(float x);
float Lanczos3Filter(float x);
float MitchellFilter(float x);

struct FilterEntry {
    const char* name;
    FilterKernel kernel;
    float supportWidth;
};

// Seven kernels in fixed order: Box, Triangle, Hermite, Bell, B-Spline, Lanczos3, Mitchell.
extern const std::array<FilterEntry, 7> FilterTable;

// Scales `source` to the current width and height of `destination` (the caller sizes it), first
// along the rows, then along the columns. Throws std::runtime_error("Source bitmap too small")
// when the source has no pixels, and std::invalid_argument for a picture whose buffer does not
// hold its rows or a support width that is negative or not finite; the destination is untouched
// then. A destination width or height of 0 leaves nothing to fill; a destination 1 pixel wide
// (or high) takes the whole source row (or column) under the kernel, centred on its middle.
void Stretch(Picture& source, Picture& destination, FilterKernel kernel, float supportWidth);

// Stretch uses AVX2 where the processor has it; the results are the same either way. For tests:
// switches the wide loops off (or back on, where available); returns the previous setting.
bool UseWideVectorsInStretch(bool use);

} // namespace glimmerly
