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
    bool Dotted(int x, int y) {
        return form->Overview().StripImage().pixelColor(x, y) == QColor(0, 0, 0);
    }
    // Whether any pixel with x + y odd in the columns is blackened (the dots).
    bool CellDotted(int from, int to) {
        for (int y = 1; y < 39; ++y)
            for (int x = from; x < to; ++x)
                if ((x + y) % 2 == 1 && Dotted(x, y))
                    return true;
        return false;
    }
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

    // A click at strip x 75: the second cell; only the first is dotted.
    QTest::mouseClick(Strip(), Qt::LeftButton, {}, QPoint(75, 20));
    EXPECT_EQ(List()->currentIndex(), 1);
    EXPECT_TRUE(CellDotted(1, 50));
    EXPECT_FALSE(CellDotted(51, 99));
    emit List()->activated(0);
    QTest::mouseClick(Strip(), Qt::LeftButton, {}, QPoint(75, 20));
    EXPECT_EQ(form->ClipRect(), (Rect{1920, 0, 3840, 1080}));

    // A double click (its first click, then the second press) ends with all monitors, nothing
    // dotted, the scroll position where the first click put it.
    QTest::mouseClick(Strip(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseDClick(Strip(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(List()->currentIndex(), 2);
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 3840, 1080}));
    EXPECT_FALSE(CellDotted(1, 99));
    EXPECT_EQ(ScrollX(), 0);

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
    // The strip shows the capture shrunk: not the panel's red, not black.
    const QColor inside = form->Overview().StripImage().pixelColor(20, 20);
    EXPECT_NEAR(inside.red(), 40, 1);
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
