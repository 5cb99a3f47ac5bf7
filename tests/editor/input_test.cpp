// The editor under the user's own input: clicks, keys and wheel turns delivered to the widgets
// the way the window system delivers them, with the program's application-wide hook in place,
// checked by what arrives in the text box, where the picture is scrolled to and what the window
// shows.

#include "editor_fixture.h"

#include "editor/line_preview.h"

#include <QComboBox>
#include <QScrollBar>
#include <QWheelEvent>

namespace glimmerly::test {
namespace {

class EditorInputTest : public EditorFixture {
protected:
    // Runs the editor's hook before every event is dispatched, as the program does.
    class Hook : public QObject {
    public:
        explicit Hook(EditorInputTest& test) : test_(test) { qApp->installEventFilter(this); }
        ~Hook() override { qApp->removeEventFilter(this); }
        bool eventFilter(QObject* receiver, QEvent* event) override {
            return test_.form && test_.form->AppMessage(receiver, event);
        }

    private:
        EditorInputTest& test_;
    };

    // A wheel turn with the pointer at window point `p`: it goes to the widget under the pointer
    // and from there up to its parents until one takes it.
    void WheelAt(QPoint p, QPoint angle) {
        QWidget* target = form->childAt(p);
        if (!target)
            target = form.get();
        QWheelEvent event(target->mapFrom(form.get(), QPointF(p)), form->mapToGlobal(QPointF(p)),
                          QPoint(), angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }
    int Vertical() { return Scroll()->verticalScrollBar()->value(); }
    int Horizontal() { return Scroll()->horizontalScrollBar()->value(); }
    QLineEdit* Edit1() { return Child<QLineEdit>("Edit1"); }
    // Red pixels the window shows inside `area` (window coordinates).
    int RedShown(QRect area) {
        const QImage shown = form->grab().toImage();
        int red = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                red += shown.pixelColor(x, y) == kRed;
        return red;
    }
    int RedInPicture(QRect area) {
        int red = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                red += Pixel(x, y) == kRed;
        return red;
    }

    Hook hook_{*this};
};

TEST_F(EditorInputTest, KeysReachAnOpenTextWhateverIsClickedOnThePictureMeanwhile) {
    Open(400, 300, true);
    PressPanel("CmdText");
    Click({50, 100});
    KeyboardTypes(QStringLiteral("a"));
    // Strokes, lines, clip corners and plain clicks on the picture or beside it: the box keeps
    // the keyboard, so the next letters and Enter still reach it.
    const struct {
        const char* tool; // pressed first, when given
        QPoint from, to;
    } actions[] = {{"CmdPaint", {20, 250}, {200, 250}},
                   {"CmdLine", {20, 200}, {200, 280}},
                   {"CmdClip", {10, 10}, {10, 10}},
                   {nullptr, {390, 290}, {390, 290}},
                   {nullptr, {300, 150}, {300, 150}}};
    QString typed = QStringLiteral("a");
    for (const auto& a : actions) {
        SCOPED_TRACE(a.tool ? a.tool : "no tool");
        if (a.tool)
            PressPanel(a.tool);
        Drag(a.from, a.to);
        EXPECT_EQ(form->focusWidget(), Edit1());
        KeyboardTypes(QStringLiteral("b"));
        typed += 'b';
        EXPECT_EQ(Edit1()->text(), typed);
    }
    ASSERT_EQ(form->Tool(), kNoTool);
    ASSERT_EQ(form->ClipRect(), (Rect{10, 10, 390, 290}));
    // In the empty part of the scroll area right of the picture.
    QTest::mouseClick(Scroll()->viewport(), Qt::LeftButton, {}, QPoint(450, 50));
    KeyboardTypes(QStringLiteral("c"));
    EXPECT_EQ(Edit1()->text(), typed + 'c');

    ASSERT_EQ(RedInPicture({50, 85, 100, 30}), 0);
    KeyboardPresses(Qt::Key_Return);
    EXPECT_TRUE(Edit1()->isHidden());
    EXPECT_GT(RedInPicture({50, 85, 100, 30}), 20);
    EXPECT_TRUE(form->isVisible());

    // With no text open a click on the picture gives the keyboard to the scroll area.
    Click({20, 20});
    EXPECT_EQ(form->focusWidget(), Scroll());
}

TEST_F(EditorInputTest, WheelMovesThePictureFortyPixelsAVerticalStepOnlyFromTheScrollArea) {
    Open(3000, 3000, false, {MonitorAt(0, 3000, 3000)});
    const QPoint over = InView({100, 100});
    ASSERT_EQ(form->focusWidget(), Scroll());
    ASSERT_EQ(Vertical(), 0);
    WheelAt(over, {0, -120});
    EXPECT_EQ(Vertical(), 40);
    WheelAt(over, {0, -360}); // a fast spin reported at once is one step too
    EXPECT_EQ(Vertical(), 80);
    WheelAt(over, {0, 120});
    WheelAt(over, {0, -1});
    EXPECT_EQ(Vertical(), 80);
    // Over the tool bar too: the wheel belongs to the control with the keyboard.
    WheelAt({430, 28}, {0, -120});
    EXPECT_EQ(Vertical(), 120);
    // A tilt sideways and a turn of nothing move nothing.
    for (QPoint angle : {QPoint(-120, 0), QPoint(120, 0), QPoint(0, 0)})
        WheelAt(over, angle);
    EXPECT_EQ(Vertical(), 120);
    EXPECT_EQ(Horizontal(), 0);

    // While a text is typed the picture stays, whether the pointer is over the picture or over
    // the text box.
    PressPanel("CmdText");
    Click({500, 300});
    ASSERT_EQ(form->focusWidget(), Edit1());
    WheelAt(over, {0, -120});
    WheelAt(over, {-120, 0});
    WheelAt(Edit1()->mapTo(form.get(), QPoint(5, 5)), {0, 120});
    EXPECT_EQ(Vertical(), 120);
    EXPECT_EQ(Horizontal(), 0);
    // Nor does the monitor list take a turn of the wheel that is not its own.
    auto* list = Child<QComboBox>("MonitorSelectBox");
    const Rect clip = form->ClipRect();
    WheelAt(list->mapTo(form.get(), QPoint(10, 10)), {0, -120});
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(form->ClipRect(), clip);
    EXPECT_EQ(form->focusWidget(), Edit1());
    KeyboardPresses(Qt::Key_Return);

    // With the keyboard in the monitor list the picture stays as well.
    list->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(form->focusWidget(), list);
    WheelAt(over, {0, -120});
    EXPECT_EQ(Vertical(), 120);

    // A click on the picture hands the wheel back to the scroll area.
    PressPanel("CmdText"); // no tool
    Click({500, 300});
    WheelAt(over, {0, 120});
    EXPECT_EQ(Vertical(), 80);
}

TEST_F(EditorInputTest, TextBoxAndLinePreviewShowBesideASmallPicture) {
    Open(200, 150, true);
    QWidget* viewport = Scroll()->viewport();
    ASSERT_GT(viewport->width(), 500);
    PressPanel("CmdText");
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(400, 100));
    KeyboardTypes(QStringLiteral("Hallo"));
    EXPECT_EQ(Edit1()->text(), QStringLiteral("Hallo"));
    const QRect box(InView({400, 100 - 11}), QSize(Edit1()->width(), 23));
    EXPECT_GT(RedShown(box), 20) << "the typed letters are not on the screen";
    const QImage before = form->Image();
    KeyboardPresses(Qt::Key_Return);
    EXPECT_EQ(form->Image(), before); // beside the picture: nothing to write into
    EXPECT_EQ(RedShown(box), 0);
    // The empty part of the scroll area has the window's grey.
    EXPECT_EQ(form->grab().toImage().pixelColor(box.center()), kGrey);

    // A line dragged out of the picture is previewed all the way to the pointer.
    PressPanel("CmdLine");
    QTest::mousePress(Image1(), Qt::LeftButton, {}, QPoint(100, 75));
    QTest::mouseMove(Image1(), QPoint(250, 75));
    QTest::mouseMove(Image1(), QPoint(350, 75));
    EXPECT_GT(RedShown(QRect(InView({150, 70}), QSize(1, 11))), 0) << "on the picture";
    EXPECT_GT(RedShown(QRect(InView({300, 70}), QSize(1, 11))), 0) << "beside the picture";
    QTest::mouseRelease(Image1(), Qt::LeftButton, {}, QPoint(350, 75));
    EXPECT_EQ(RedShown(QRect(InView({300, 70}), QSize(1, 11))), 0);
    EXPECT_EQ(Pixel(199, 75), kRed);
}

TEST_F(EditorInputTest, EmptyScrollAreaIsGreyAlsoUnderAnOwnerWithAStyleSheet) {
    // The program's main window, the editor's owner, styles some of its controls with a sheet.
    QWidget owner;
    owner.setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
    form = std::make_unique<ImageEditorForm>(&owner);
    form->Prepare(Pattern(200, 150), true, {MonitorAt(0, 1920, 1080)});
    form->show();
    QApplication::processEvents();
    const QImage shown = form->grab().toImage();
    EXPECT_EQ(shown.pixelColor(InView({400, 100})), kGrey);
    EXPECT_EQ(shown.pixelColor(InView({100, 300})), kGrey);
    EXPECT_EQ(shown.pixelColor(InView({100, 100})), PatternAt(100, 100));
    form.reset();
}

TEST_F(EditorInputTest, AnOpenTextBoxScrollsWithThePicture) {
    Open(600, 3000, true);
    PressPanel("CmdText");
    Click({50, 300});
    QWidget* viewport = Scroll()->viewport();
    EXPECT_EQ(Edit1()->mapTo(viewport, QPoint()), QPoint(50, 289));
    Scroll()->verticalScrollBar()->setValue(200); // the thumb dragged
    EXPECT_EQ(Edit1()->mapTo(viewport, QPoint()), QPoint(50, 89));
    KeyboardTypes(QStringLiteral("Zeile"));
    KeyboardPresses(Qt::Key_Return);
    EXPECT_GT(RedInPicture({50, 289, 80, 23}), 20);

    // A line started before the thumb moves starts where it was pressed on the picture, and
    // its preview moves along.
    PressPanel("CmdLine");
    QTest::mousePress(Image1(), Qt::LeftButton, {}, QPoint(100, 400));
    Scroll()->verticalScrollBar()->setValue(240);
    EXPECT_EQ(Child<TLine>("Line1")->Start(), QPoint(100, 160));
    QTest::mouseMove(Image1(), QPoint(300, 400));
    EXPECT_EQ(Child<TLine>("Line1")->End(), QPoint(300, 160));
    QTest::mouseRelease(Image1(), Qt::LeftButton, {}, QPoint(300, 400));
    EXPECT_EQ(Pixel(100, 400), kRed);
    EXPECT_EQ(Pixel(200, 400), kRed);
    EXPECT_EQ(Pixel(200, 360), PatternAt(200, 360));
}

} // namespace
} // namespace glimmerly::test
