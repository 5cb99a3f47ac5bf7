// TLine: repaints only on real changes, shows its line in the real direction.

#include "editor/line_preview.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace glimmerly {
namespace {

class CountingLine : public TLine {
public:
    using TLine::TLine;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        TLine::paintEvent(event);
    }
};

QImage Render(QWidget& parent) {
    QImage image(parent.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    parent.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

TEST(LinePreviewTest, RepaintsOnlyWhenWidthOrColourReallyChange) {
    QWidget parent;
    parent.resize(300, 200);
    auto* line = new CountingLine(&parent);
    parent.show();
    QApplication::processEvents();
    line->paints = 0;
    line->SetLineWidth(1);
    line->SetColor(Qt::black);
    QApplication::processEvents();
    EXPECT_EQ(line->paints, 0);
    line->SetLineWidth(3);
    QApplication::processEvents();
    EXPECT_EQ(line->paints, 1);
    line->SetColor(Qt::red);
    QApplication::processEvents();
    EXPECT_EQ(line->paints, 2);
}

TEST(LinePreviewTest, ShowsTheDiagonalInItsRealDirectionAndNothingElse) {
    QWidget parent;
    parent.resize(300, 200);
    parent.setAutoFillBackground(false);
    auto* line = new TLine(&parent);
    line->SetLineWidth(3);
    line->SetColor(Qt::red);
    line->SetBox(10, 10, 200, 100);
    QImage image = Render(parent);
    EXPECT_EQ(image.pixelColor(10, 10), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(110, 60), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(210, 110), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(210, 10), QColor(Qt::white)); // transparent elsewhere

    // Pointer up and left of the start: from (210, 110) back to (10, 60).
    line->SetBox(210, 110, -200, -50);
    image = Render(parent);
    EXPECT_EQ(image.pixelColor(110, 85), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(110, 60), QColor(Qt::white));
    // Up and to the right: the other diagonal.
    line->SetBox(10, 110, 200, -100);
    image = Render(parent);
    EXPECT_EQ(image.pixelColor(110, 60), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(10, 10), QColor(Qt::white));
}

} // namespace
} // namespace glimmerly
