#include "platform/wayland/layout.h"

#include <gtest/gtest.h>

namespace glimmerly::platform::wayland {
namespace {

TEST(WaylandPrimary, TheOutputAtTheOriginElseTheFirst) {
    std::vector<Monitor> monitors{
        {Rect{-1024, 0, 0, 768}}, {Rect{0, 0, 1280, 720}}, {Rect{1280, 0, 2304, 768}, true}};
    MarkPrimary(monitors);
    EXPECT_FALSE(monitors[0].primary);
    EXPECT_TRUE(monitors[1].primary);
    EXPECT_FALSE(monitors[2].primary); // a stale mark is cleared

    // Nothing covers (0,0): the first one, even at negative positions.
    std::vector<Monitor> apart{{Rect{-800, -600, -100, 0}}, {Rect{100, 100, 900, 700}}};
    MarkPrimary(apart);
    EXPECT_TRUE(apart[0].primary);
    EXPECT_FALSE(apart[1].primary);

    std::vector<Monitor> none;
    MarkPrimary(none);
    EXPECT_TRUE(none.empty());
}

Picture Filled(int width, int height, std::uint8_t value) {
    Picture p(width, height);
    std::fill(p.pixels.begin(), p.pixels.end(), value);
    return p;
}

TEST(WaylandBand, CopiesOnlyWhatLiesOnOutputs) {
    // Two outputs of different heights with a 20-column gap; the shot covers the layout's
    // bounding box and has pixels everywhere (some grab programs fill gaps with garbage).
    const std::vector<Monitor> monitors{{Rect{0, 0, 100, 50}, true}, {Rect{120, 10, 200, 80}}};
    Picture shot = Filled(200, 80, 0x55);
    shot.At(130, 20)[0] = 0xAA; // a marked pixel on the second output
    const Picture band = PlaceInBand(shot, 0, 0, monitors, Rect{0, 0, 200, 50});
    ASSERT_EQ(band.width, 200);
    ASSERT_EQ(band.height, 50);
    EXPECT_EQ(band.At(0, 0)[0], 0x55);
    EXPECT_EQ(band.At(99, 49)[2], 0x55);
    EXPECT_EQ(band.At(110, 5)[0], 0); // gap between the outputs
    EXPECT_EQ(band.At(150, 5)[0], 0); // above the lower-set second output
    EXPECT_EQ(band.At(120, 10)[0], 0x55);
    EXPECT_EQ(band.At(130, 20)[0], 0xAA);
    EXPECT_EQ(band.At(199, 49)[1], 0x55);
}

TEST(WaylandBand, ShotAndBandAtNegativePositions) {
    // An output left of the origin: the shot starts at -50, the band too; a band reaching
    // beyond the shot and below every output is black there.
    const std::vector<Monitor> monitors{{Rect{-50, 0, 0, 40}}, {Rect{0, 0, 60, 30}, true}};
    Picture shot = Filled(110, 40, 0x33);
    shot.At(0, 0)[0] = 0x10;  // desktop (-50, 0)
    shot.At(50, 0)[0] = 0x20; // desktop (0, 0)
    const Picture band = PlaceInBand(shot, -50, 0, monitors, Rect{-50, 0, 70, 35});
    ASSERT_EQ(band.width, 120);
    EXPECT_EQ(band.At(0, 0)[0], 0x10);
    EXPECT_EQ(band.At(50, 0)[0], 0x20);
    EXPECT_EQ(band.At(10, 34)[0], 0x33); // left output is 40 tall
    EXPECT_EQ(band.At(60, 34)[0], 0);    // right output ends at row 30
    EXPECT_EQ(band.At(115, 0)[0], 0);    // beyond every output and the shot

    // A shot smaller than the layout (an output appeared meanwhile) is copied as far as it goes.
    const Picture partial = PlaceInBand(Filled(60, 30, 0x44), 0, 0, monitors, Rect{-50, 0, 60, 30});
    EXPECT_EQ(partial.At(0, 0)[0], 0);
    EXPECT_EQ(partial.At(50, 0)[0], 0x44);

    EXPECT_TRUE(PlaceInBand(shot, -50, 0, monitors, Rect{0, 0, 0, 30}).Empty());
}

} // namespace
} // namespace glimmerly::platform::wayland
