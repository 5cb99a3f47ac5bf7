// What the user finds in the editor's window: each control where the layout shows it, reached by
// a click anywhere on it and nowhere beside it, doing its job from there; the strip, the colour
// and the picture as painted; captions that fit their buttons. With GLIMMERLY_EDITOR_SCREENSHOT
// set, the screen with the editor on it is saved there (for looking at the window on a real
// desktop).

#include "editor_fixture.h"
#include "tests/support/offscreen_text.h"

#include "editor/monitor_overview.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>

namespace glimmerly::test {
namespace {

class EditorLayoutTest : public EditorFixture {
protected:
    // The control a click at window point `p` reaches.
    QWidget* At(QPoint p) { return form->childAt(p); }
    QString NameAt(QPoint p) {
        QWidget* widget = At(p);
        return widget ? widget->objectName() : QStringLiteral("<nothing>");
    }
    // Every corner pixel of `place` reaches the control, the pixels diagonally outside do not.
    void ExpectReachedOn(const char* name, QRect place) {
        const QPoint corners[] = {place.topLeft(), place.topRight(), place.bottomLeft(),
                                  place.bottomRight()};
        const QPoint outward[] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(NameAt(corners[i]), QLatin1String(name)) << "corner " << i;
            EXPECT_NE(NameAt(corners[i] + outward[i]), QLatin1String(name)) << "beside " << i;
        }
    }
    void ClickAt(QPoint p) {
        QWidget* widget = At(p);
        ASSERT_NE(widget, nullptr);
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->mapFrom(form.get(), p));
    }
    QImage Shown() { return form->grab().toImage(); }
};

TEST_F(EditorLayoutTest, EachButtonIsReachedWhereItIsShownAndActsFromThere) {
    GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE();
    Open(3200, 1080, false, {MonitorAt(0, 1920, 1080), MonitorAt(1920, 1280, 1024)});
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Screenshot bearbeiten"));
    const struct {
        const char* name;
        QRect place;
        const char* caption;
        int tool;
    } buttons[] = {
        {"CmdClip", {288, 8, 105, 41}, "Ausschnitt w\u00e4hlen", kClipFirstCorner},
        {"CmdPaint", {400, 8, 65, 41}, "Stift", kPenTool},
        {"CmdLine", {472, 8, 65, 41}, "Linie", kLineTool},
        {"CmdText", {544, 8, 65, 41}, "Text", kTextTool},
    };
    PressPanel("CmdClip"); // no tool
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.name);
        ExpectReachedOn(b.name, b.place);
        auto* label = qobject_cast<QLabel*>(At(b.place.center()));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString::fromUtf8(b.caption));
        // The caption fits inside the raised frame, wrapped as the button wraps it.
        const QRect inside = label->contentsRect();
        const QRect needed =
            QFontMetrics(label->font())
                .boundingRect(inside, Qt::AlignCenter | Qt::TextWordWrap, label->text());
        EXPECT_TRUE(inside.contains(needed));
        ClickAt(b.place.center());
        EXPECT_EQ(form->Tool(), b.tool);
        ClickAt(b.place.center());
        EXPECT_EQ(form->Tool(), kNoTool);
    }

    // "Alles rückgängig" takes back a stroke; "Bearbeitung beenden" closes the window.
    ExpectReachedOn("CmdUndo", {624, 8, 105, 41});
    ExpectReachedOn("Panel2", {744, 8, 129, 41});
    EXPECT_EQ(qobject_cast<QLabel*>(At({676, 28}))->text(),
              QStringLiteral("Alles r\u00fcckg\u00e4ngig"));
    EXPECT_EQ(qobject_cast<QLabel*>(At({808, 28}))->text(), QStringLiteral("Bearbeitung beenden"));
    PressPanel("CmdPaint");
    Drag({10, 10}, {100, 10});
    ASSERT_EQ(Pixel(50, 10), kRed);
    ClickAt({676, 28});
    EXPECT_EQ(Pixel(50, 10), PatternAt(50, 10));
    ClickAt({808, 28});
    EXPECT_FALSE(form->isVisible());
}

TEST_F(EditorLayoutTest, ToolBarStatusBarAndPictureAsShown) {
    Open(3200, 1080, false, {MonitorAt(0, 1920, 1080), MonitorAt(1920, 1280, 1024)});
    // The monitor overview: its label above the list, the list, the strip of 2 × 50 pixels.
    EXPECT_EQ(qobject_cast<QLabel*>(At({12, 12}))->text(),
              QStringLiteral("Bildschirm\u00fcbersicht:"));
    EXPECT_TRUE(At({12, 12})->font().bold());
    ExpectReachedOn("MonitorSelectBox", {8, 27, 113, 21});
    ExpectReachedOn("DesktopPanel", {136, 8, 100, 40});
    EXPECT_EQ(qobject_cast<QLabel*>(At({252, 12}))->text(), QStringLiteral("Farbe:"));
    ExpectReachedOn("ColorPanel", {248, 24, 33, 25});

    const QImage shown = Shown();
    // The strip is painted where its panel is, pixel for pixel, dotted frame included.
    const QImage& strip = form->Overview().StripImage();
    ASSERT_EQ(strip.size(), QSize(100, 40));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(shown.pixelColor(136 + x, 8 + y), strip.pixelColor(x, y)) << x << "," << y;
    // The colour panel shows the drawing colour inside its raised frame.
    for (int y = 25; y <= 47; ++y)
        for (int x = 249; x <= 279; ++x)
            ASSERT_EQ(shown.pixelColor(x, y), kRed) << x << "," << y;
    // Between the controls the window's grey shows.
    EXPECT_EQ(shown.pixelColor(396, 30), kGrey);
    EXPECT_EQ(shown.pixelColor(740, 30), kGrey);
    // The picture begins right below the 57-pixel tool bar, at its own pixel (0, 0).
    EXPECT_EQ(NameAt({10, 56}), QStringLiteral("Panel1"));
    EXPECT_EQ(NameAt({10, 57}), QStringLiteral("Image1"));
    EXPECT_EQ(shown.pixelColor(0, 57), PatternAt(0, 0));
    EXPECT_EQ(shown.pixelColor(5, 60), PatternAt(5, 3));

    // The status bar, 17 pixels at the bottom: monitors in 150 pixels, the size in 130, the
    // hint of the tool in the rest.
    const int bar = form->height() - 17;
    EXPECT_TRUE(Child<QWidget>("ScrollBox1")->isAncestorOf(At({10, bar - 1})));
    const struct {
        const char* name;
        int left, right;
        QString text;
    } panels[] = {
        {"StatusPanel0", 0, 149, QStringLiteral("Verwendete Monitore: 2")},
        {"StatusPanel1", 152, 281, QStringLiteral("Bildgr\u00f6\u00dfe: 1920x1080")},
        {"StatusPanel2", 284, form->width() - 1,
         QStringLiteral("Markieren Sie per Mausklick die Bildr\u00e4nder.")},
    };
    for (const auto& p : panels) {
        for (QPoint at : {QPoint(p.left, bar), QPoint(p.right, form->height() - 1)})
            EXPECT_EQ(NameAt(at), QLatin1String(p.name)) << at.x() << "," << at.y();
        EXPECT_EQ(qobject_cast<QLabel*>(At({p.left + 5, bar + 8}))->text(), p.text);
    }

    // The text box: no border, 19-pixel letters.
    auto* edit = Child<QLineEdit>("Edit1");
    EXPECT_FALSE(edit->hasFrame());
    EXPECT_EQ(edit->font().pixelSize(), 19);
}

TEST_F(EditorLayoutTest, ToolCursorsComeFromTheProgramsImagesWithTheirHotSpots) {
    Open(3200, 1080, false, {MonitorAt(0, 1920, 1080), MonitorAt(1920, 1280, 1024)});
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
