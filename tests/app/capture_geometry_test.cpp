#include "app/capture_geometry.h"

#include <gtest/gtest.h>

namespace glimmerly {
namespace {

using platform::Monitor;

TEST(DesktopBand, SpansAllMonitorsFromColumnZeroAtPrimaryHeight) {
    EXPECT_EQ(DesktopBand({{Rect{0, 0, 1920, 1080}, true}}, 1080), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(
        DesktopBand({{Rect{0, 0, 1920, 1080}, true}, {Rect{1920, 0, 3200, 1024}, false}}, 1080),
        (Rect{0, 0, 3200, 1080}));
    EXPECT_EQ(DesktopBand({{Rect{0, 0, 1920, 1080}, true}, {Rect{-1280, 0, 0, 1024}, false}}, 1080),
              (Rect{-1280, 0, 1920, 1080}));
    // A monitor above the primary one adds nothing.
    EXPECT_EQ(DesktopBand({{Rect{0, 0, 1920, 1080}, true}, {Rect{0, -1080, 1920, 0}, false}}, 1080),
              (Rect{0, 0, 1920, 1080}));
    // A band always contains column 0, even if no monitor does.
    EXPECT_EQ(DesktopBand({{Rect{100, 0, 500, 300}, true}}, 300), (Rect{0, 0, 500, 300}));
}

TEST(WindowArea, MaximisedAndNormalWindows) {
    EXPECT_EQ(WindowArea(Rect{-8, -8, 1928, 1088}, 0, 1920, 1080), (Rect{0, 0, 1920, 1080}));
    // On the wide band of two monitors the overhang still ends at the primary monitor's edge.
    EXPECT_EQ(WindowArea(Rect{-8, -8, 1928, 1088}, 0, 3200, 1080), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(WindowArea(Rect{100, 50, 900, 650}, 0, 1920, 1080), (Rect{100, 50, 900, 650}));
}

TEST(WindowArea, WindowDraggedPartlyOffTheLeftEdgeKeepsItsVisiblePart) {
    // Shifting it like a maximised window would show the wrong rows and columns.
    EXPECT_EQ(WindowArea(Rect{-300, 100, 500, 700}, 0, 1920, 1080), (Rect{0, 100, 500, 700}));
    EXPECT_EQ(WindowArea(Rect{-300, -20, 500, 700}, 0, 1920, 1080), (Rect{0, 0, 500, 700}));
}

TEST(WindowArea, ClipsToTheBandAndRefusesWhatIsNotOnIt) {
    EXPECT_EQ(WindowArea(Rect{1800, 1000, 2100, 1200}, 0, 1920, 1080),
              (Rect{1800, 1000, 1920, 1080}));
    EXPECT_EQ(WindowArea(Rect{100, -20, 300, 200}, 0, 1920, 1080), (Rect{100, 0, 300, 200}));
    // A minimised window far off the screen.
    EXPECT_EQ(WindowArea(Rect{-32000, -32000, -31840, -31972}, 0, 1920, 1080), std::nullopt);
    EXPECT_EQ(WindowArea(Rect{5000, 10, 5100, 50}, 0, 1920, 1080), std::nullopt);
    EXPECT_EQ(WindowArea(Rect{10, 10, 10, 50}, 0, 1920, 1080), std::nullopt);
}

TEST(WindowArea, MonitorLeftOfThePrimaryShiftsIntoPictureCoordinates) {
    // Band starts at desktop column -1280: a window at desktop (-1000..-500) is picture 280..780.
    EXPECT_EQ(WindowArea(Rect{-1000, 100, -500, 400}, -1280, 3200, 1080),
              (Rect{280, 100, 780, 400}));
    EXPECT_EQ(WindowArea(Rect{100, 50, 900, 650}, -1280, 3200, 1080), (Rect{1380, 50, 2180, 650}));
}

TEST(CopyArea, CopiesPixelsAndFillsOutsideWithBlack) {
    Picture source(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            source.At(x, y)[0] = static_cast<std::uint8_t>(10 * y + x + 1);
    const Picture inner = CopyArea(source, Rect{1, 1, 3, 3});
    ASSERT_EQ(inner.width, 2);
    ASSERT_EQ(inner.height, 2);
    EXPECT_EQ(inner.At(0, 0)[0], 12);
    EXPECT_EQ(inner.At(1, 1)[0], 23);

    const Picture outer = CopyArea(source, Rect{-1, -1, 2, 1});
    ASSERT_EQ(outer.width, 3);
    EXPECT_EQ(outer.At(0, 0)[0], 0);
    EXPECT_EQ(outer.At(1, 1)[0], 1);
    EXPECT_EQ(outer.At(2, 1)[0], 2);
    EXPECT_TRUE(CopyArea(source, Rect{2, 2, 2, 5}).Empty());
}

} // namespace
} // namespace glimmerly
