// The editor's plain geometry: monitor order for every layout, clip bands, the strip's dots, the
// size text and the rectangle handed back to the capture.

#include "editor/editor_geometry.h"

#include <gtest/gtest.h>

namespace glimmerly {
namespace {

using platform::Monitor;

Monitor At(int left, int top, int width, int height) {
    return Monitor{Rect{left, top, left + width, top + height}, false};
}

std::vector<int> Lefts(const std::vector<Monitor>& order) {
    std::vector<int> lefts;
    for (const Monitor& m : order)
        lefts.push_back(m.rect.Left);
    return lefts;
}

TEST(MonitorOrderTest, SideBySideMonitorsChainFromTheLeftmostEdge) {
    const std::vector<Monitor> right{At(0, 0, 1920, 1080), At(1920, 0, 1920, 1080)};
    EXPECT_EQ(PictureOriginX(right), 0);
    EXPECT_EQ(Lefts(MonitorOrder(right)), (std::vector<int>{0, 1920}));

    // The system lists the primary first; the secondary lies to its left.
    const std::vector<Monitor> left{At(0, 0, 1920, 1080), At(-1920, 0, 1920, 1080)};
    EXPECT_EQ(PictureOriginX(left), -1920);
    EXPECT_EQ(Lefts(MonitorOrder(left)), (std::vector<int>{-1920, 0}));
    EXPECT_EQ(MonitorClip(MonitorOrder(left)[0], -1920), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(MonitorClip(MonitorOrder(left)[1], -1920), (Rect{1920, 0, 3840, 1080}));
}

TEST(MonitorOrderTest, LayoutsTheChainCannotWalkStillEndWithEveryMonitorListed) {
    // Above the other, a gap, an overlap, a duplicate, a zero-wide monitor, none at all.
    const std::vector<std::vector<Monitor>> layouts{
        {At(0, 0, 1920, 1080), At(0, -1080, 1920, 1080)},
        {At(0, 0, 1920, 1080), At(2000, 0, 1280, 1024)},
        {At(0, 0, 1920, 1080), At(1000, 0, 1920, 1080)},
        {At(0, 0, 1920, 1080), At(0, 0, 1920, 1080)},
        {At(0, 0, 0, 1080), At(500, 0, 800, 600)},
        {},
    };
    for (const auto& layout : layouts) {
        const auto order = MonitorOrder(layout);
        EXPECT_EQ(order.size(), layout.size());
    }
    EXPECT_EQ(Lefts(MonitorOrder(layouts[1])), (std::vector<int>{0, 2000}));
    // Stacked: the chained one first, then the one above.
    EXPECT_EQ(MonitorOrder(layouts[0])[1].rect.Top, -1080);
}

TEST(ClipGeometryTest, BandsAreCutToThePictureAndCoverAllForAnInvertedClip) {
    const auto bands = BorderBands(Rect{100, 50, 500, 350}, 800, 600);
    EXPECT_EQ(bands[0], (Rect{0, 0, 800, 50}));
    EXPECT_EQ(bands[1], (Rect{0, 0, 100, 600}));
    EXPECT_EQ(bands[2], (Rect{500, 0, 800, 600}));
    EXPECT_EQ(bands[3], (Rect{0, 350, 800, 600}));

    // Edges beyond the picture: nothing on those sides.
    const auto beyond = BorderBands(Rect{-10, -10, 900, 700}, 800, 600);
    for (const Rect& band : beyond)
        EXPECT_TRUE(IsEmptyRect(band));

    // Second corner left of and above the first: left and right bands meet.
    const auto inverted = BorderBands(Rect{500, 350, 100, 50}, 800, 600);
    EXPECT_EQ(inverted[1], (Rect{0, 0, 500, 600}));
    EXPECT_EQ(inverted[2], (Rect{100, 0, 800, 600}));
}

TEST(ClipGeometryTest, SizeTextKeepsSigns) {
    EXPECT_EQ(ClipSizeText(Rect{100, 50, 500, 350}), "Bildgr\xC3\xB6\xC3\x9F"
                                                     "e: 400x300");
    EXPECT_EQ(ClipSizeText(Rect{500, 350, 100, 50}), "Bildgr\xC3\xB6\xC3\x9F"
                                                     "e: -400x-300");
}

TEST(ClipGeometryTest, HandOffIsTheMarkedRectangleOrderedAndCutToThePicture) {
    EXPECT_EQ(HandOffRect(Rect{100, 50, 500, 350}, 800, 600), (Rect{100, 50, 500, 350}));
    EXPECT_EQ(HandOffRect(Rect{500, 350, 100, 50}, 800, 600), (Rect{100, 50, 500, 350}));
    // "Alle Monitore" on a picture less tall than the virtual desktop.
    EXPECT_EQ(HandOffRect(Rect{0, 0, 3840, 1200}, 3840, 1080), (Rect{0, 0, 3840, 1080}));
    // Corners in the empty scroll area right of and below the picture.
    EXPECT_EQ(HandOffRect(Rect{700, 500, 1200, 900}, 800, 600), (Rect{700, 500, 800, 600}));
    EXPECT_TRUE(IsEmptyRect(HandOffRect(Rect{900, 0, 1200, 600}, 800, 600)));
    EXPECT_TRUE(IsEmptyRect(HandOffRect(Rect{100, 100, 100, 300}, 800, 600)));
    EXPECT_TRUE(IsEmptyRect(HandOffRect(Rect{0, -1080, 1920, 0}, 1920, 1080)));
}

TEST(DotPatternTest, CheckerboardOutsideTheMarkedColumnsOnly) {
    // Two cells of 50; the second marked.
    EXPECT_FALSE(DotAt(0, 1, 50, 50));
    EXPECT_FALSE(DotAt(1, 0, 50, 50));
    EXPECT_TRUE(DotAt(1, 2, 50, 50));
    EXPECT_FALSE(DotAt(2, 2, 50, 50));
    EXPECT_TRUE(DotAt(49, 2, 50, 50));
    for (int x = 50; x <= 99; ++x)
        EXPECT_FALSE(DotAt(x, 1 + x % 2, 50, 50)) << x;
    // All monitors: nothing dotted.
    for (int x = 0; x < 100; ++x)
        EXPECT_FALSE(DotAt(x, 1 + x % 2, 0, 100)) << x;
}

} // namespace
} // namespace glimmerly
