#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "imaging/resample.h"

namespace glimmerly {
namespace {

Picture RandomPicture(int width, int height, unsigned seed) {
    Picture p(width, height);
    std::mt19937 random(seed);
    for (auto& byte : p.pixels) {
        byte = static_cast<std::uint8_t>(random());
    }
    return p;
}

Picture Filled(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Picture p(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = p.At(x, y);
            px[0] = b;
            px[1] = g;
            px[2] = r;
        }
    }
    return p;
}

// Straightforward scaler written from the rules alone: every list position asks the kernel, every
// sum is an extended-precision addition rounded to single precision. The library's fast loops
// must give the same bytes.
struct RefContribution {
    int index;
    float weight;
};

std::vector<std::vector<RefContribution>> RefLists(int d, int n, FilterKernel kernel, float fw) {
    float scale;
    bool single = false;
    if (n == 1) {
        scale = static_cast<float>(static_cast<long double>(d) / n);
    } else if (d == 1) {
        scale = static_cast<float>(1.0L / n);
        single = true;
    } else {
        scale = static_cast<float>(static_cast<long double>(d - 1) / (n - 1));
    }
    std::vector<std::vector<RefContribution>> lists(d);
    for (int i = 0; i < d; ++i) {
        const float center = single ? static_cast<float>((n - 1) / 2.0L)
                                    : static_cast<float>(i / (long double)scale);
        float width = fw, fscale = 1.0f;
        if (scale < 1.0f) {
            width = static_cast<float>(fw / (long double)scale);
            fscale = static_cast<float>(1.0L / scale);
        }
        const auto left = static_cast<long long>(std::floor((long double)center - width));
        const auto right = static_cast<long long>(std::ceil((long double)center + width));
        for (long long j = left; j <= right; ++j) {
            float w;
            if (scale < 1.0f) {
                w = static_cast<float>(
                    kernel(static_cast<float>(((long double)center - j) / fscale)) /
                    (long double)fscale);
            } else {
                w = kernel(static_cast<float>((long double)center - j));
            }
            if (w == 0.0f) {
                continue;
            }
            long long k = j < 0 ? -j : (j >= n ? 2LL * n - 1 - j : j);
            k = std::clamp<long long>(k, 0, n - 1);
            lists[i].push_back({static_cast<int>(k), w});
        }
    }
    return lists;
}

std::uint8_t RefByte(float sum) {
    if (sum > 255.0f) {
        return 255;
    }
    if (sum < 0.0f) {
        return 0;
    }
    return static_cast<std::uint8_t>(std::nearbyint(sum));
}

float RefSum(const std::vector<RefContribution>& list, const std::uint8_t* first,
             std::size_t step) {
    float sum = 0.0f;
    for (const RefContribution& c : list) {
        sum = static_cast<float>(sum + static_cast<long double>(first[c.index * step]) * c.weight);
    }
    return sum;
}

Picture RefStretch(const Picture& src, int dw, int dh, FilterKernel kernel, float fw) {
    Picture work(dw, src.height), dst(dw, dh);
    const auto columns = RefLists(dw, src.width, kernel, fw);
    for (int y = 0; y < src.height; ++y) {
        for (int i = 0; i < dw; ++i) {
            for (int c = 0; c < 3; ++c) {
                work.At(i, y)[c] = RefByte(RefSum(columns[i], src.Row(y) + c, 3));
            }
        }
    }
    const auto rows = RefLists(dh, src.height, kernel, fw);
    for (int x = 0; x < dw; ++x) {
        for (int i = 0; i < dh; ++i) {
            for (int c = 0; c < 3; ++c) {
                dst.At(x, i)[c] = RefByte(RefSum(rows[i], work.At(x, 0) + c, work.stride));
            }
        }
    }
    return dst;
}

Picture Stretched(Picture source, int dw, int dh, FilterKernel kernel, float fw) {
    Picture destination(dw, dh);
    Stretch(source, destination, kernel, fw);
    return destination;
}

std::vector<int> Channel(const Picture& p, int y, int c) {
    std::vector<int> values;
    for (int x = 0; x < p.width; ++x) {
        values.push_back(p.At(x, y)[c]);
    }
    return values;
}

TEST(StretchTest, SourceWithoutPixelsFailsAndLeavesDestinationAlone) {
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
        Picture source(w, h);
        Picture destination = RandomPicture(4, 4, 7);
        const Picture before = destination;
        try {
            Stretch(source, destination, BoxFilter, 0.5f);
            FAIL() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Source bitmap too small");
        }
        EXPECT_EQ(destination.pixels, before.pixels);
    }
}

TEST(StretchTest, SameSizeWithBoxOrTriangleCopiesThePicture) {
    const Picture source = RandomPicture(37, 23, 1);
    for (FilterKernel kernel : {BoxFilter, TriangleFilter}) {
        const Picture out = Stretched(source, 37, 23, kernel, kernel == BoxFilter ? 0.5f : 1.0f);
        EXPECT_EQ(out.pixels, source.pixels);
    }
}

TEST(StretchTest, TriangleEnlargesTwoColumnsToThreeWithTheMeanBetween) {
    Picture source = Filled(2, 3, 9, 9, 9);
    for (int y = 0; y < 3; ++y) {
        source.At(0, y)[1] = 0;
        source.At(1, y)[1] = 100;
    }
    const Picture out = Stretched(source, 3, 3, TriangleFilter, 1.0f);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(Channel(out, y, 1), (std::vector<int>{0, 50, 100}));
        EXPECT_EQ(Channel(out, y, 0), (std::vector<int>{9, 9, 9}));
    }
}

TEST(StretchTest, HalvesRoundToEven) {
    // The middle of three columns takes half of each neighbour: 2.5 and 3.5 exactly.
    Picture source(2, 1);
    source.At(0, 0)[0] = 5;
    source.At(0, 0)[1] = 7;
    source.At(0, 0)[2] = 9;
    const Picture out = Stretched(source, 3, 1, TriangleFilter, 1.0f);
    EXPECT_EQ(out.At(1, 0)[0], 2);
    EXPECT_EQ(out.At(1, 0)[1], 4);
    EXPECT_EQ(out.At(1, 0)[2], 4); // 4.5 gives 4 as well
}

TEST(StretchTest, OvershootAcrossASharpEdgeIsClampedNotWrapped) {
    Picture source(8, 1);
    for (int x = 4; x < 8; ++x) {
        std::fill(source.At(x, 0), source.At(x, 0) + 3, 255);
    }
    for (FilterKernel kernel : {Lanczos3Filter, MitchellFilter}) {
        const float fw = kernel == Lanczos3Filter ? 3.0f : 2.0f;
        const Picture out = Stretched(source, 29, 1, kernel, fw);
        const auto values = Channel(out, 0, 0);
        // The lobes push the sums below 0 left of the edge and above 255 right of it.
        const auto lists = RefLists(29, 8, kernel, fw);
        int low = 0, high = 0;
        for (int i = 0; i < 29; ++i) {
            const float sum = RefSum(lists[i], source.Row(0), 3);
            if (sum < 0.0f) {
                ++low;
                EXPECT_EQ(values[i], 0) << i;
            } else if (sum > 255.0f) {
                ++high;
                EXPECT_EQ(values[i], 255) << i;
            }
        }
        EXPECT_GT(low, 0);
        EXPECT_GT(high, 0);
        // The ramp rises monotonically through the edge (no wrapped bytes).
        EXPECT_TRUE(std::is_sorted(values.begin() + 10, values.begin() + 19));
    }
}

// A kernel that is 1 at exactly one distance reads the source at one mirrored position.
template <int Distance> float OnlyAt(float x) {
    return x == static_cast<float>(Distance) ? 1 : 0;
}

TEST(StretchTest, WindowPositionsOutsideThePictureAreMirrored) {
    Picture source(5, 1);
    for (int x = 0; x < 5; ++x) {
        source.At(x, 0)[2] = static_cast<std::uint8_t>(10 * (x + 1));
    }
    // Distance d reads position i - d.
    EXPECT_EQ(Channel(Stretched(source, 5, 1, OnlyAt<1>, 2.0f), 0, 2),
              (std::vector<int>{20, 10, 20, 30, 40})); // -1 reads column 1
    EXPECT_EQ(Channel(Stretched(source, 5, 1, OnlyAt<2>, 2.0f), 0, 2),
              (std::vector<int>{30, 20, 10, 20, 30})); // -2 reads 2, -1 reads 1
    EXPECT_EQ(Channel(Stretched(source, 5, 1, OnlyAt<-1>, 2.0f), 0, 2),
              (std::vector<int>{20, 30, 40, 50, 50})); // N reads N - 1
    EXPECT_EQ(Channel(Stretched(source, 5, 1, OnlyAt<-2>, 2.0f), 0, 2),
              (std::vector<int>{30, 40, 50, 50, 40})); // N + 1 reads N - 2
}

TEST(StretchTest, PositionsStillOutsideAfterMirroringTakeTheNearestEdge) {
    Picture source(2, 1);
    source.At(0, 0)[0] = 11;
    source.At(1, 0)[0] = 22;
    // -3 mirrors to 3, beyond the right edge: column 1. 2 + 4 = 6 mirrors to -3: column 0.
    EXPECT_EQ(Channel(Stretched(source, 2, 1, OnlyAt<3>, 4.0f), 0, 0), (std::vector<int>{22, 22}));
    EXPECT_EQ(Channel(Stretched(source, 2, 1, OnlyAt<-4>, 4.0f), 0, 0), (std::vector<int>{11, 11}));
    // Supports much wider than the source give the same result as the plain rules.
    const Picture tiny = RandomPicture(3, 2, 5);
    for (float fw : {3.0f, 17.5f, 200.0f}) {
        EXPECT_EQ(Stretched(tiny, 7, 5, Lanczos3Filter, fw).pixels,
                  RefStretch(tiny, 7, 5, Lanczos3Filter, fw).pixels);
        EXPECT_EQ(Stretched(tiny, 2, 1, BSplineFilter, fw).pixels,
                  RefStretch(tiny, 2, 1, BSplineFilter, fw).pixels);
    }
}

TEST(StretchTest, BoxShrinkOfAUniformGreyGivesSlightlyUnevenColumns) {
    const Picture source = Filled(3840, 2, 200, 200, 200);
    const Picture out = Stretched(source, 200, 2, BoxFilter, 0.5f);
    std::set<int> seen;
    for (int x = 0; x < 200; ++x) {
        for (int c = 0; c < 3; ++c) {
            seen.insert(out.At(x, 1)[c]);
            EXPECT_EQ(out.At(x, 0)[c], out.At(x, 1)[c]);
        }
    }
    EXPECT_EQ(seen, (std::set<int>{197, 207}));
}

TEST(StretchTest, OnePixelDestinationTakesTheWholeSource) {
    // A left half of 0 and a right half of 200: the single column is their mean.
    Picture source(10, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 5; x < 10; ++x) {
            std::fill(source.At(x, y), source.At(x, y) + 3, 200);
        }
    }
    const Picture column = Stretched(source, 1, 4, BoxFilter, 0.5f);
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(column.At(0, y)[0], 100);
    }
    const Picture dot = Stretched(source, 1, 1, BoxFilter, 0.5f);
    EXPECT_EQ(dot.At(0, 0)[1], 100);
    // Every kernel of the table copes with it, and enlarging a single pixel repeats it.
    const Picture random = RandomPicture(31, 17, 3);
    for (const FilterEntry& entry : FilterTable) {
        EXPECT_EQ(Stretched(random, 1, 9, entry.kernel, entry.supportWidth).pixels,
                  RefStretch(random, 1, 9, entry.kernel, entry.supportWidth).pixels)
            << entry.name;
    }
    const Picture one = Filled(1, 1, 1, 2, 3);
    EXPECT_EQ(Stretched(one, 4, 3, TriangleFilter, 1.0f).pixels, Filled(4, 3, 1, 2, 3).pixels);
}

TEST(StretchTest, EmptyDestinationIsLeftAlone) {
    Picture source = RandomPicture(8, 8, 2);
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{3, 0}}) {
        Picture destination(w, h);
        EXPECT_NO_THROW(Stretch(source, destination, BoxFilter, 0.5f));
        EXPECT_EQ(destination.width, w);
        EXPECT_EQ(destination.height, h);
    }
}

TEST(StretchTest, RejectsBadSupportAndPicturesWithoutTheirRows) {
    Picture source = RandomPicture(8, 8, 2);
    Picture destination(4, 4);
    EXPECT_THROW(Stretch(source, destination, BoxFilter, -1.0f), std::invalid_argument);
    EXPECT_THROW(Stretch(source, destination, BoxFilter, NAN), std::invalid_argument);
    EXPECT_THROW(Stretch(source, destination, BoxFilter, INFINITY), std::invalid_argument);
    EXPECT_THROW(Stretch(source, destination, nullptr, 1.0f), std::invalid_argument);
    Picture broken = source;
    broken.pixels.resize(10);
    EXPECT_THROW(Stretch(broken, destination, BoxFilter, 0.5f), std::invalid_argument);
    Picture small(4, 4);
    small.pixels.resize(5);
    EXPECT_THROW(Stretch(source, small, BoxFilter, 0.5f), std::invalid_argument);
}

TEST(StretchTest, KeepsTheDestinationStrideAndTheBytesBeyondTheRows) {
    Picture source = RandomPicture(9, 6, 4);
    Picture destination(5, 3);
    destination.stride = 20;
    destination.pixels.assign(60, 0xEE);
    Stretch(source, destination, TriangleFilter, 1.0f);
    const Picture expected = RefStretch(source, 5, 3, TriangleFilter, 1.0f);
    for (int y = 0; y < 3; ++y) {
        EXPECT_TRUE(std::equal(expected.Row(y), expected.Row(y) + 15, destination.Row(y)));
        EXPECT_EQ(destination.Row(y)[15], 0xEE);
        EXPECT_EQ(destination.Row(y)[19], 0xEE);
    }
}

TEST(StretchTest, SourceAndDestinationMayBeThePictureItself) {
    Picture picture = RandomPicture(12, 10, 8);
    const Picture expected = RefStretch(picture, 12, 10, MitchellFilter, 2.0f);
    Stretch(picture, picture, MitchellFilter, 2.0f);
    EXPECT_EQ(picture.pixels, expected.pixels);
}

// The fast loops against the plain rules, over every kernel and a mix of shrinking, enlarging
// and odd sizes (four-row groups with remainders, rows that are not whole twelves of bytes).
TEST(StretchTest, MatchesThePlainRulesForEveryKernel) {
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "wide vectors" : "baseline vectors");
        const bool previous = UseWideVectorsInStretch(wide);
        const Picture source = RandomPicture(53, 41, 11);
        const std::pair<int, int> sizes[] = {{17, 13}, {53, 41}, {120, 90},
                                             {29, 87}, {2, 2},   {7, 1}};
        for (const FilterEntry& entry : FilterTable) {
            for (auto [w, h] : sizes) {
                EXPECT_EQ(Stretched(source, w, h, entry.kernel, entry.supportWidth).pixels,
                          RefStretch(source, w, h, entry.kernel, entry.supportWidth).pixels)
                    << entry.name << " " << w << "x" << h;
            }
            // A support other than the table's widens the window.
            EXPECT_EQ(Stretched(source, 20, 15, entry.kernel, 4.0f).pixels,
                      RefStretch(source, 20, 15, entry.kernel, 4.0f).pixels)
                << entry.name;
        }
        UseWideVectorsInStretch(previous);
    }
}

// Pictures whose sums often meet exact ties of single precision, and weights too small for the
// double loops: both must still give the extended-precision bytes.
float TinyTail(float x) {
    const float t = std::fabs(x);
    return t < 1.0f ? 1.0f - t : (t < 3.0f ? 1e-30f : 0.0f);
}
float Sevenths(float x) {
    return std::fabs(x) < 2.0f ? 0.1428571f * (1 + (x > 0)) : 0.0f;
}

// Weight 2^-56 at distance 1 and 6990507 * 2^-23 at distance 0: over the bytes 1, 3 the exact sum
// is 2^-56 above the single-precision tie 2.5 + 2^-23, so it rounds up to 2.5 + 2^-22 (byte 3). A
// double sum loses the 2^-56 and lands on the tie itself, which rounds to even: 2.5 (byte 2).
float TieMaker(float x) {
    if (x == 1.0f) {
        return 0x1p-56f;
    }
    return x == 0.0f ? 6990507.0f * 0x1p-23f : 0.0f;
}
float NotANumber(float x) {
    return std::fabs(x) < 1.0f ? NAN : 0.0f;
}

TEST(StretchTest, MatchesThePlainRulesWhereDoubleRoundingWouldDiffer) {
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "wide vectors" : "baseline vectors");
        const bool previous = UseWideVectorsInStretch(wide);
        Picture pairs(6, 4);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 6; ++x) {
                std::fill(pairs.At(x, y), pairs.At(x, y) + 3, x % 2 ? 3 : 1);
            }
        }
        const Picture tie = Stretched(pairs, 6, 4, TieMaker, 1.0f);
        EXPECT_EQ(tie.At(1, 0)[0], 3);
        EXPECT_EQ(tie.pixels, RefStretch(pairs, 6, 4, TieMaker, 1.0f).pixels);
        // A kernel that gives no number at all yields black, not garbage.
        EXPECT_EQ(Stretched(pairs, 4, 3, NotANumber, 1.0f).pixels, Picture(4, 3).pixels);

        const Picture source = RandomPicture(40, 30, 12);
        for (FilterKernel kernel : {TinyTail, Sevenths}) {
            for (auto [w, h] : {std::pair{13, 11}, std::pair{61, 47}}) {
                EXPECT_EQ(Stretched(source, w, h, kernel, 3.0f).pixels,
                          RefStretch(source, w, h, kernel, 3.0f).pixels);
            }
        }
        // Grey ramps under the Box shrink: many sums sit on halves.
        Picture ramp(997, 5);
        for (std::size_t k = 0; k < ramp.pixels.size(); ++k) {
            ramp.pixels[k] = static_cast<std::uint8_t>(k * 7 / 3);
        }
        for (int w : {3, 31, 100, 499}) {
            EXPECT_EQ(Stretched(ramp, w, 3, BoxFilter, 0.5f).pixels,
                      RefStretch(ramp, w, 3, BoxFilter, 0.5f).pixels)
                << w;
            EXPECT_EQ(Stretched(ramp, w, 4, BoxFilter, 100.0f).pixels,
                      RefStretch(ramp, w, 4, BoxFilter, 100.0f).pixels)
                << w;
        }
        UseWideVectorsInStretch(previous);
    }
}

} // namespace
} // namespace glimmerly
