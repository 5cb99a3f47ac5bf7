// The window's controls where its layout puts them, with their captions and colours. With
// GLIMMERLY_EDITOR_SCREENSHOT set, the screen with the editor on it is saved there (for looking
// at the window on a real desktop).

#include "editor_fixture.h"

#include <QGuiApplication>
#include <QScreen>

namespace glimmerly::test {
namespace {

class EditorLayoutTest : public EditorFixture {};

TEST_F(EditorLayoutTest, ControlsSitWhereTheLayoutPutsThem) {
    Open(3200, 1080, false, {MonitorAt(0, 1920, 1080), MonitorAt(1920, 1280, 1024)});
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Screenshot bearbeiten"));
    const struct {
        const char* name;
        QRect place;
        const char* caption;
    } controls[] = {
        {"MonitorSelectBox", {8, 27, 113, 21}, nullptr},
        {"DesktopPanel", {136, 8, 100, 40}, nullptr},
        {"ColorPanel", {248, 24, 33, 25}, nullptr},
        {"CmdClip", {288, 8, 105, 41}, "Ausschnitt w\u00e4hlen"},
        {"CmdPaint", {400, 8, 65, 41}, "Stift"},
        {"CmdLine", {472, 8, 65, 41}, "Linie"},
        {"CmdText", {544, 8, 65, 41}, "Text"},
        {"CmdUndo", {624, 8, 105, 41}, "Alles r\u00fcckg\u00e4ngig"},
        {"Panel2", {744, 8, 129, 41}, "Bearbeitung beenden"},
    };
    for (const auto& c : controls) {
        QWidget* widget = Child<QWidget>(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->geometry(), c.place) << c.name;
        if (c.caption) {
            EXPECT_EQ(Child<QLabel>(c.name)->text(), QString::fromUtf8(c.caption)) << c.name;
        }
    }
    EXPECT_EQ(Child<QLabel>("MonitorSelectLabel")->pos(), QPoint(8, 8));
    EXPECT_TRUE(Child<QLabel>("MonitorSelectLabel")->font().bold());
    EXPECT_EQ(Child<QLabel>("Label2")->text(), QStringLiteral("Farbe:"));
    EXPECT_EQ(Child<QWidget>("Panel1")->height(), 57);
    EXPECT_EQ(Child<QWidget>("StatusBar1")->height(), 17);
    EXPECT_EQ(Child<QWidget>("StatusPanel0")->width(), 150);
    EXPECT_EQ(Child<QWidget>("StatusPanel1")->width(), 130);
    EXPECT_EQ(Child<QWidget>("DesktopPanel")->palette().color(QPalette::Window), QColor(176, 0, 0));
    EXPECT_EQ(form->palette().color(QPalette::Window), kGrey);
    EXPECT_EQ(Child<QWidget>("ColorPanel")->palette().color(QPalette::Window), kRed);
    auto* edit = Child<QLineEdit>("Edit1");
    EXPECT_FALSE(edit->hasFrame());
    EXPECT_EQ(edit->height(), 23);
    EXPECT_EQ(edit->font().pixelSize(), 19);

    // The tool cursors come from the program's images with their hot spots.
    const struct {
        const char* panel;
        int id;
        QPoint hotSpot;
    } cursors[] = {{"CmdPaint", kPenTool, {12, 23}},
                   {"CmdText", kTextTool, {16, 15}},
                   {"CmdLine", kLineTool, {16, 16}},
                   {"CmdClip", kClipFirstCorner, {8, 8}}};
    for (const auto& c : cursors) {
        PressPanel(c.panel);
        ASSERT_EQ(form->Tool(), c.id);
        const QCursor cursor = Image1()->cursor();
        EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32)) << c.panel;
        EXPECT_EQ(cursor.hotSpot(), c.hotSpot) << c.panel;
    }
    ClickAnywhere({10, 10});
    EXPECT_EQ(Image1()->cursor().hotSpot(), QPoint(23, 23));
    ClickAnywhere({3000, 1000});
    EXPECT_EQ(Image1()->cursor().shape(), Qt::ArrowCursor);

    const QString shot = qEnvironmentVariable("GLIMMERLY_EDITOR_SCREENSHOT");
    if (!shot.isEmpty()) {
        form->move(210, 138);
        PressPanel("CmdPaint");
        QTest::qWait(500);
        QGuiApplication::primaryScreen()->grabWindow(0).save(shot);
    }
}

} // namespace
} // namespace glimmerly::test
