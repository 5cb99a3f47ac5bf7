// The editor's plain geometry: monitor order for every layout, clip bands, the strip's dots, the
// size text, the rectangle handed back to the capture and the window's place on the desktop.

#include "editor/editor_geometry.h"

#include <gtest/gtest.h>

namespace glimmerly {

inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << "{" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << "}";
}

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

TEST(WindowPlaceTest, StaysWhereItIsAskedWhileThatCornerIsOnTheDesktop) {
    const Rect wanted{210, 138, 210 + 889, 138 + 652};
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{0, 0, 1920, 1080}}), wanted);
    // On a small screen the corner is still on it, though the window reaches past its edges.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{0, 0, 640, 480}}), wanted);
    // On the second of two monitors.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{1920, 0, 3200, 1024}, Rect{0, 0, 1920, 1080}}), wanted);
    // Nothing known about the desktop: nothing to correct.
    EXPECT_EQ(PlaceOnDesktop(wanted, {}), wanted);
}

TEST(WindowPlaceTest, CornerOffTheDesktopMovesOntoTheNearestArea) {
    const Rect wanted{210, 138, 210 + 889, 138 + 652};
    const auto moved = [&](int left, int top) { return Rect{left, top, left + 889, top + 652}; };
    // A panel along the left edge takes the first 300 columns.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{300, 0, 1920, 1080}}), moved(300, 138));
    // A panel along the top takes 200 rows.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{0, 200, 1920, 1080}}), moved(210, 200));
    // The only monitor starts right of the origin.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{1000, 0, 2280, 1024}}), moved(1000, 138));
    // The only monitor lies left of the origin: the window comes in as far as it is wide.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{-1920, 0, 0, 1080}}), moved(-889, 138));
    // ... or above it, with the window's top on the monitor.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{0, -1080, 1920, 0}}), moved(210, -652));
    // The nearer of two monitors: 362 rows below against 790 columns to the right.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{1000, 0, 2000, 1000}, Rect{0, 500, 1600, 1100}}),
              moved(210, 500));
    // A monitor smaller than the window: its top-left corner, so that the title bar is there.
    EXPECT_EQ(PlaceOnDesktop(wanted, {Rect{2000, 2000, 2400, 2300}}), moved(2000, 2000));
}

} // namespace
} // namespace glimmerly
