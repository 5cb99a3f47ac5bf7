// The monitor overview of a desktop capture: list, strip, ClipRect and scrolling.

#include "editor_fixture.h"

#include "editor/monitor_overview.h"

#include <QComboBox>
#include <QScrollBar>

namespace glimmerly::test {
namespace {

class MonitorOverviewTest : public EditorFixture {
protected:
    QComboBox* List() { return Child<QComboBox>("MonitorSelectBox"); }
    int ScrollX() { return Child<QScrollArea>("ScrollBox1")->horizontalScrollBar()->value(); }
    QWidget* Strip() { return Child<QWidget>("DesktopPanel"); }
    QColor StripPixel(int x, int y) { return form->Overview().StripImage().pixelColor(x, y); }
    // Columns `from` to `to` inside the frame's rows: dotted means every pixel with x + y odd
    // black and every other one not (the capture shows through); clear means no black at all.
    bool Dotted(int from, int to) { return Checkered(from, to, true); }
    bool Clear(int from, int to) { return Checkered(from, to, false); }
    bool Checkered(int from, int to, bool dotted) {
        for (int y = 1; y < 39; ++y)
            for (int x = from; x <= to; ++x) {
                const bool black = StripPixel(x, y) == QColor(0, 0, 0);
                if (black != (dotted && (x + y) % 2 == 1)) {
                    ADD_FAILURE() << "strip pixel " << x << "," << y;
                    return false;
                }
            }
        return true;
    }
    // Every pixel of the frame colour lies on the outline of the cell from `start`, `span`
    // pixels wide (right and bottom exclusive), and each side of the outline is dotted: short
    // runs of the frame colour with short gaps between them, from one end to the other.
    void ExpectFrameAround(int start, int span) {
        const QImage& strip = form->Overview().StripImage();
        const int right = start + span - 1;
        const int bottom = strip.height() - 1;
        for (int y = 0; y < strip.height(); ++y)
            for (int x = 0; x < strip.width(); ++x)
                if (strip.pixelColor(x, y) == kFrame) {
                    EXPECT_TRUE(x == start || x == right || y == 0 || y == bottom) << x << "," << y;
                }
        auto expectDotted = [&](QPoint from, QPoint step, int length) {
            int run = 0, gap = 0, dots = 0;
            for (int i = 0; i < length; ++i) {
                const QPoint p = from + step * i;
                if (strip.pixelColor(p) == kFrame) {
                    dots += run == 0;
                    ++run;
                    gap = 0;
                } else {
                    ++gap;
                    run = 0;
                }
                ASSERT_LE(run, 3) << "solid at " << p.x() << "," << p.y();
                ASSERT_LE(gap, 3) << "no dot near " << p.x() << "," << p.y();
            }
            EXPECT_GE(dots, length / 6);
        };
        expectDotted({start, 0}, {1, 0}, span);
        expectDotted({start, bottom}, {1, 0}, span);
        expectDotted({start, 0}, {0, 1}, strip.height());
        expectDotted({right, 0}, {0, 1}, strip.height());
    }
    const QColor kFrame{176, 0, 0};
};

TEST_F(MonitorOverviewTest, TwoMonitorsSideBySide) {
    Open(3840, 1080, false, {MonitorAt(0, 1920, 1080), MonitorAt(1920, 1920, 1080)});
    EXPECT_EQ(List()->count(), 3);
    EXPECT_EQ(List()->itemText(0), QStringLiteral("Nur 1. Monitor"));
    EXPECT_EQ(List()->itemText(2), QStringLiteral("Alle Monitore"));
    EXPECT_EQ(Strip()->size(), QSize(100, 40));
    EXPECT_FALSE(List()->isHidden());
    EXPECT_EQ(Status(0), QStringLiteral("Verwendete Monitore: 2"));
    // Opening selects the first monitor and greys the second.
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(ScrollX(), 0);
    EXPECT_EQ(Pixel(2000, 500), kGrey);
    EXPECT_EQ(Status(1), QStringLiteral("Bildgr\u00f6\u00dfe: 1920x1080"));

    emit List()->activated(1); // the user's choice
    EXPECT_EQ(form->ClipRect(), (Rect{1920, 0, 3840, 1080}));
    EXPECT_EQ(ScrollX(), 1920);
    EXPECT_EQ(Pixel(2000, 500), PatternAt(2000, 500));
    EXPECT_EQ(Pixel(1000, 500), kGrey);

    // A click at strip x 75: the second cell, framed; the first is dotted, and the column
    // after it (x 50, where the marked span starts) is clear.
    QTest::mouseClick(Strip(), Qt::LeftButton, {}, QPoint(75, 20));
    EXPECT_EQ(List()->currentIndex(), 1);
    EXPECT_TRUE(Dotted(1, 49));
    EXPECT_TRUE(Clear(51, 98));
    ExpectFrameAround(50, 50);
    emit List()->activated(0);
    EXPECT_TRUE(Clear(1, 48));
    EXPECT_TRUE(Dotted(51, 99));
    ExpectFrameAround(0, 50);

    // A double click (its first click, then the second press) on the second cell: the first
    // click scrolls to that monitor, and all monitors then leave the view where it was. The
    // frame surrounds the whole strip and nothing is dotted.
    QTest::mouseClick(Strip(), Qt::LeftButton, {}, QPoint(75, 20));
    QTest::mouseDClick(Strip(), Qt::LeftButton, {}, QPoint(75, 20));
    EXPECT_EQ(List()->currentIndex(), 2);
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 3840, 1080}));
    EXPECT_TRUE(Clear(1, 98));
    ExpectFrameAround(0, 100);
    EXPECT_EQ(ScrollX(), 1920);
    emit List()->activated(0);
    emit List()->activated(2); // from the list as well
    EXPECT_EQ(ScrollX(), 0);
    emit List()->activated(1);
    emit List()->activated(2);
    EXPECT_EQ(ScrollX(), 1920);

    // Set from code, the list does not act.
    List()->setCurrentIndex(1);
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 3840, 1080}));

    // Undo all returns to the leftmost monitor.
    QTest::mouseClick(Child<QWidget>("CmdUndo"), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(List()->currentIndex(), 0);
}

TEST_F(MonitorOverviewTest, SecondMonitorLeftOfThePrimary) {
    Open(3840, 1080, false, {MonitorAt(0, 1920, 1080), MonitorAt(-1920, 1920, 1080)});
    EXPECT_EQ(form->Overview().PictureOriginX(), -1920);
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 1920, 1080}));
    emit List()->activated(1);
    EXPECT_EQ(form->ClipRect(), (Rect{1920, 0, 3840, 1080}));
    EXPECT_EQ(ScrollX(), 1920);
}

TEST_F(MonitorOverviewTest, OneMonitorAndIndexesWithoutAMonitor) {
    Open(640, 480, false, {MonitorAt(0, 640, 480)});
    EXPECT_EQ(List()->count(), 2);
    EXPECT_EQ(Strip()->size(), QSize(50, 40));
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 640, 480}));
    form->Overview().SelectMonitor(5);
    form->Overview().SelectMonitor(-7);
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 640, 480}));
}

TEST_F(MonitorOverviewTest, StripShowsTheCaptureShrunkWithABoxOverEachColumnsShare) {
    // Left half bright, right half dark (blue), and rows growing brighter downwards
    // (green).
    // Each strip column adds up the capture columns within half a column step of its centre
    // (1919 / 49 = 39.2 capture columns a step), each weighing 1 / 39.2: columns 0 to 24 see only
    // the bright half at (nearly) full strength, column 25 only the dark half. A narrower window
    // loses brightness; a wider or softer kernel mixes the halves at the edge.
    Picture capture(1920, 1080);
    for (int y = 0; y < capture.height; ++y)
        for (int x = 0; x < capture.width; ++x) {
            std::uint8_t* p = capture.At(x, y);
            p[0] = x < 960 ? 255 : 0;
            p[1] = static_cast<std::uint8_t>(y * 255 / 1079);
            p[2] = 40;
        }
    Open(std::move(capture), false, {MonitorAt(0, 1920, 1080)});
    for (int y = 1; y <= 38; ++y) {
        for (int x = 1; x <= 48; ++x) {
            const int blue = StripPixel(x, y).blue();
            if (x <= 24) {
                ASSERT_GE(blue, 240) << x << "," << y;
            } else {
                ASSERT_EQ(blue, 0) << x << "," << y;
            }
        }
    }
    // The rows keep their order: dark at the top, bright at the bottom.
    EXPECT_LT(StripPixel(10, 2).green(), 30);
    EXPECT_NEAR(StripPixel(10, 20).green(), 130, 10);
    EXPECT_GT(StripPixel(10, 37).green(), 220);
}

TEST_F(MonitorOverviewTest, AMonitorPluggedInSinceTheLastCaptureShows) {
    Open(1920, 1080, false, {MonitorAt(0, 1920, 1080)});
    EXPECT_EQ(List()->count(), 2);
    EXPECT_EQ(Status(0), QStringLiteral("Verwendete Monitore: 1"));
    form->hide();
    form->Prepare(Pattern(3200, 1080), false,
                  {MonitorAt(0, 1920, 1080), MonitorAt(1920, 1280, 1024)});
    form->show();
    QApplication::processEvents();
    ASSERT_EQ(List()->count(), 3);
    EXPECT_EQ(List()->itemText(1), QStringLiteral("Nur 2. Monitor"));
    EXPECT_EQ(Status(0), QStringLiteral("Verwendete Monitore: 2"));
    EXPECT_EQ(Strip()->width(), 100);
    List()->setCurrentIndex(1);
    emit List()->activated(1);
    EXPECT_EQ(form->ClipRect(), (Rect{1920, 0, 3200, 1024}));
}

TEST_F(MonitorOverviewTest, OneWindowCaptureHidesTheOverviewAndKeepsTheWholePicture) {
    Open(640, 480, true, {MonitorAt(0, 1920, 1080), MonitorAt(1920, 1920, 1080)});
    EXPECT_TRUE(List()->isHidden());
    EXPECT_TRUE(Strip()->isHidden());
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 640, 480}));
    EXPECT_EQ(Pixel(0, 0), PatternAt(0, 0));

    // The same window reused for a desktop capture shows the overview again, first monitor.
    form->hide();
    form->Prepare(Pattern(3840, 1080), false,
                  {MonitorAt(0, 1920, 1080), MonitorAt(1920, 1920, 1080)});
    form->show();
    EXPECT_FALSE(List()->isHidden());
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(Pixel(2000, 10), kGrey);
}

} // namespace
} // namespace glimmerly::test
