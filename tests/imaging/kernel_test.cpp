#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "imaging/resample.h"

namespace glimmerly {
namespace {

TEST(FilterTableTest, SevenKernelsInFixedOrderWithTheirSupport) {
    const char* names[] = {"Box",      "Triangle", "Hermite", "Bell",
                           "B-Spline", "Lanczos3", "Mitchell"};
    const float widths[] = {0.5f, 1.0f, 1.0f, 1.5f, 2.0f, 3.0f, 2.0f};
    const FilterKernel kernels[] = {BoxFilter,     TriangleFilter, HermiteFilter, BellFilter,
                                    BSplineFilter, Lanczos3Filter, MitchellFilter};
    ASSERT_EQ(FilterTable.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(std::string(FilterTable[i].name), names[i]);
        EXPECT_EQ(FilterTable[i].supportWidth, widths[i]);
        EXPECT_EQ(FilterTable[i].kernel, kernels[i]);
    }
}

TEST(FilterKernelTest, BoxIsOpenAtMinusHalfAndClosedAtHalf) {
    EXPECT_EQ(BoxFilter(-0.5f), 0.0f);
    EXPECT_EQ(BoxFilter(std::nextafter(-0.5f, 0.0f)), 1.0f);
    EXPECT_EQ(BoxFilter(0.5f), 1.0f);
    EXPECT_EQ(BoxFilter(std::nextafter(0.5f, 1.0f)), 0.0f);
    EXPECT_EQ(BoxFilter(0.0f), 1.0f);
}

TEST(FilterKernelTest, KnownValues) {
    EXPECT_EQ(TriangleFilter(0.25f), 0.75f);
    EXPECT_EQ(TriangleFilter(-0.5f), 0.5f);
    EXPECT_EQ(HermiteFilter(0.5f), 0.5f);
    EXPECT_EQ(HermiteFilter(0.0f), 1.0f);
    EXPECT_EQ(BellFilter(0.0f), 0.75f);
    EXPECT_EQ(BellFilter(0.5f), 0.5f);
    EXPECT_EQ(BellFilter(1.0f), 0.125f);
    EXPECT_EQ(BSplineFilter(0.0f), static_cast<float>(2.0L / 3.0L));
    EXPECT_EQ(BSplineFilter(1.0f), static_cast<float>(1.0L / 6.0L));
    EXPECT_EQ(Lanczos3Filter(0.0f), 1.0f);
    EXPECT_NEAR(Lanczos3Filter(1.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(Lanczos3Filter(0.5f), 0.6079271f, 1e-6f);
    EXPECT_EQ(MitchellFilter(0.0f), static_cast<float>(static_cast<float>(16.0L / 3.0L) / 6.0L));
    EXPECT_NEAR(MitchellFilter(1.0f), 1.0f / 18.0f, 1e-7f);
}

TEST(FilterKernelTest, ZeroAtAndBeyondSupportAndSymmetric) {
    for (const FilterEntry& entry : FilterTable) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.kernel(std::nextafter(entry.supportWidth, 100.0f)), 0.0f);
        EXPECT_EQ(entry.kernel(entry.supportWidth + 1.0f), 0.0f);
        EXPECT_EQ(entry.kernel(-entry.supportWidth - 3.5f), 0.0f);
        if (entry.kernel != BoxFilter) {
            EXPECT_EQ(entry.kernel(entry.supportWidth), 0.0f);
            for (float x = 0.0f; x < entry.supportWidth; x += 0.1f) {
                EXPECT_EQ(entry.kernel(x), entry.kernel(-x)) << x;
            }
        }
    }
}

} // namespace
} // namespace glimmerly
