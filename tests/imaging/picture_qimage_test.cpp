#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "imaging/qt/picture_qimage.h"

namespace glimmerly {
namespace {

TEST(PictureQImageTest, RoundTripKeepsEveryByte) {
    Picture picture(7, 5); // 21 bytes a row: QImage pads its rows to 24
    for (std::size_t k = 0; k < picture.pixels.size(); ++k) {
        picture.pixels[k] = static_cast<std::uint8_t>(k * 13 + 1);
    }
    const QImage image = ToQImage(picture);
    ASSERT_EQ(image.format(), QImage::Format_BGR888);
    ASSERT_EQ(image.size(), QSize(7, 5));
    const Picture back = FromQImage(image);
    EXPECT_EQ(back.width, 7);
    EXPECT_EQ(back.height, 5);
    EXPECT_EQ(back.pixels, picture.pixels);
}

TEST(PictureQImageTest, BytesAreBlueGreenRed) {
    Picture picture(1, 1);
    picture.pixels = {10, 20, 30};
    EXPECT_EQ(ToQImage(picture).pixelColor(0, 0), QColor(30, 20, 10));

    QImage argb(2, 1, QImage::Format_ARGB32);
    argb.setPixelColor(0, 0, QColor(255, 0, 0));
    argb.setPixelColor(1, 0, QColor(1, 2, 3));
    const Picture fromArgb = FromQImage(argb);
    EXPECT_EQ(fromArgb.pixels, (PixelBytes{0, 0, 255, 3, 2, 1}));

    QImage rgb32(1, 2, QImage::Format_RGB32);
    rgb32.fill(QColor(200, 100, 50));
    EXPECT_EQ(FromQImage(rgb32).pixels, (PixelBytes{50, 100, 200, 50, 100, 200}));
}

TEST(PictureQImageTest, PictureWithWideStrideAndEmptyPictures) {
    Picture picture(2, 2);
    picture.stride = 8;
    picture.pixels = {1, 2, 3, 4, 5, 6, 99, 99, 7, 8, 9, 10, 11, 12, 99, 99};
    const Picture back = FromQImage(ToQImage(picture));
    EXPECT_EQ(back.pixels, (PixelBytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

    EXPECT_TRUE(ToQImage(Picture()).isNull());
    EXPECT_TRUE(FromQImage(QImage()).Empty());
}

} // namespace
} // namespace glimmerly
