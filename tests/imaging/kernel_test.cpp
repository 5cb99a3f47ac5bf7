#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "imaging/resample.h"

namespace glimmerly {
namespace {

// The row of the table with this name; fails the test when there is none.
const FilterEntry& Row(const std::string& name) {
    for (const FilterEntry& entry : FilterTable) {
        if (name == entry.name) {
            return entry;
        }
    }
    ADD_FAILURE() << "no row " << name;
    return FilterTable[0];
}

// Each name gives the curve of that name, worked out here from its formula at a few distances,
// and its support width is where that curve ends: not 0 just inside, 0 just beyond.
TEST(FilterTableTest, EachNameGivesItsCurveAndSupportEndsWhereTheCurveDoes) {
    const struct {
        const char* name;
        std::vector<std::pair<float, double>> values; // distance, weight by the formula
    } curves[] = {
        {"Box", {{0.25f, 1.0}, {-0.25f, 1.0}, {0.75f, 0.0}}},
        {"Triangle", {{0.25f, 0.75}, {0.5f, 0.5}, {0.75f, 0.25}}},
        {"Hermite", {{0.25f, 0.84375}, {0.5f, 0.5}, {0.75f, 0.15625}}},
        {"Bell", {{0.25f, 0.6875}, {1.0f, 0.125}, {1.25f, 0.03125}}},
        {"B-Spline", {{0.5f, 23.0 / 48.0}, {1.5f, 1.0 / 48.0}}},
        {"Lanczos3", {{0.5f, 0.6079271}, {1.5f, -0.1350949}, {2.5f, 0.0243170}}},
        {"Mitchell", {{0.5f, 77.0 / 144.0}, {1.5f, -5.0 / 144.0}}},
    };
    std::vector<std::string> names;
    for (const FilterEntry& entry : FilterTable) {
        names.push_back(entry.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Box", "Triangle", "Hermite", "Bell", "B-Spline",
                                               "Lanczos3", "Mitchell"}));
    for (const auto& curve : curves) {
        SCOPED_TRACE(curve.name);
        const FilterEntry& row = Row(curve.name);
        for (const auto& [x, weight] : curve.values) {
            EXPECT_NEAR(row.kernel(x), weight, 2e-6) << x;
        }
        EXPECT_NE(row.kernel(std::nextafter(row.supportWidth, 0.0f)), 0.0f);
        EXPECT_EQ(row.kernel(std::nextafter(row.supportWidth, 100.0f)), 0.0f);
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
