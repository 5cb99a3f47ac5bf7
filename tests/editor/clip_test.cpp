// The clip tool: two clicks, grey bands as real pixels, the size in the status bar, and the
// capture coming back outside the rectangle while edits inside it stay.

#include "editor_fixture.h"

namespace glimmerly::test {
namespace {

const QString kSize = QStringLiteral("Bildgr\u00f6\u00dfe: ");

class ClipTest : public EditorFixture {};

TEST_F(ClipTest, TwoClicksMarkTheClipAndGreyEverythingElse) {
    Open(800, 600, true);
    EXPECT_EQ(form->Tool(), kClipFirstCorner);
    EXPECT_EQ(Status(1), kSize + "800x600");

    Click({100, 50});
    // The first corner alone: the size reaches to the old lower-right corner.
    EXPECT_EQ(Status(1), kSize + "700x550");
    EXPECT_EQ(form->Tool(), kClipSecondCorner);

    Click({500, 350});
    EXPECT_EQ(form->ClipRect(), (Rect{100, 50, 500, 350}));
    EXPECT_EQ(Status(1), kSize + "400x300");
    EXPECT_EQ(form->Tool(), kNoTool);
    EXPECT_EQ(Status(2), QString());
    EXPECT_EQ(Pixel(100, 50), PatternAt(100, 50));
    EXPECT_EQ(Pixel(499, 349), PatternAt(499, 349));
    for (QPoint p : {QPoint(99, 200), QPoint(500, 200), QPoint(300, 49), QPoint(300, 350),
                     QPoint(0, 0), QPoint(799, 599)})
        EXPECT_EQ(Pixel(p.x(), p.y()), kGrey) << p.x() << "," << p.y();

    const EditorResult result = form->Result();
    EXPECT_EQ(result.clip, (Rect{100, 50, 500, 350}));
    EXPECT_EQ(result.picture.width, 800);
}

TEST_F(ClipTest, InvertedClicksGreyTheWholePictureAndShowMinusSigns) {
    Open(800, 600, true);
    Click({500, 350});
    Click({100, 50});
    EXPECT_EQ(Status(1), kSize + "-400x-300");
    for (QPoint p : {QPoint(300, 200), QPoint(100, 50), QPoint(499, 349), QPoint(0, 0)})
        EXPECT_EQ(Pixel(p.x(), p.y()), kGrey);

    // Marking again brings the capture back: no grey is kept from the inverted rectangle.
    PressPanel("CmdClip");
    ClickAnywhere({0, 0}); // QTest takes (0, 0) for the middle
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 100, 50}));
    ClickAnywhere({800, 600});
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 800, 600}));
    EXPECT_EQ(Pixel(300, 200), PatternAt(300, 200));
}

TEST_F(ClipTest, EdgesBeyondThePictureGreyNothingOnThatSide) {
    Open(200, 150, true);
    Click({20, 10});
    // The second corner in the empty scroll area right of and below the picture.
    QWidget* viewport = Child<QScrollArea>("ScrollBox1")->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(form->ClipRect(), (Rect{20, 10, 400, 300}));
    EXPECT_EQ(Pixel(199, 149), PatternAt(199, 149));
    EXPECT_EQ(Pixel(19, 100), kGrey);
    EXPECT_EQ(Pixel(100, 9), kGrey);
    EXPECT_EQ(Status(1), kSize + "380x290");
}

TEST_F(ClipTest, EditsInsideSurviveAClipChangeAndOutsideTheCaptureReturns) {
    Open(800, 600, true);
    Click({100, 100});
    Click({400, 400});
    PressPanel("CmdPaint");
    Drag({200, 200}, {250, 200}); // inside
    Drag({50, 300}, {150, 300});  // across the left band
    EXPECT_EQ(Pixel(225, 200), kRed);
    EXPECT_EQ(Pixel(60, 300), kGrey); // covered again on release
    EXPECT_EQ(Pixel(120, 300), kRed);

    PressPanel("CmdClip");
    Click({200, 0});
    ClickAnywhere({800, 600});
    EXPECT_EQ(Pixel(225, 200), kRed);  // kept inside both rectangles
    EXPECT_EQ(Pixel(120, 300), kGrey); // now under the band
    PressPanel("CmdClip");
    ClickAnywhere({0, 0}); // QTest takes (0, 0) for the middle
    ClickAnywhere({800, 600});
    EXPECT_EQ(Pixel(120, 300), PatternAt(120, 300)); // outside before: the capture returned
    EXPECT_EQ(Pixel(60, 300), PatternAt(60, 300));
    EXPECT_EQ(Pixel(225, 200), kRed);
}

TEST_F(ClipTest, ToolButtonsFormAGroupAndUndoPopsUp) {
    Open(400, 300, true);
    EXPECT_EQ(form->Tool(), kClipFirstCorner);
    PressPanel("CmdLine", Qt::RightButton); // a right press selects too
    EXPECT_EQ(form->Tool(), kLineTool);
    EXPECT_EQ(Child<QFrame>("CmdLine")->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(Child<QFrame>("CmdClip")->frameShadow(), QFrame::Raised);
    EXPECT_EQ(Status(2), QStringLiteral("Ziehen Sie mit gedr\u00fcckter Maustaste eine Linie."));
    PressPanel("CmdLine");
    EXPECT_EQ(form->Tool(), kNoTool);
    EXPECT_EQ(Status(2), QString());

    // Each tool tells the user in the status bar what to do; undo and "Bearbeitung beenden"
    // choose no tool and say nothing.
    const struct {
        const char* panel;
        const char* hint;
    } hints[] = {
        {"CmdClip", "Markieren Sie per Mausklick die Bildr\u00e4nder."},
        {"CmdPaint", "Zeichnen Sie mit gedr\u00fcckter Maustaste eine Freihandlinie."},
        {"CmdLine", "Ziehen Sie mit gedr\u00fcckter Maustaste eine Linie."},
        {"CmdText", "Klicken Sie auf eine Stelle im Bild und geben Sie Text ein."},
    };
    for (const auto& h : hints) {
        PressPanel(h.panel);
        EXPECT_EQ(Status(2), QString::fromUtf8(h.hint)) << h.panel;
    }
    PressPanel("CmdUndo");
    EXPECT_EQ(Status(2), QString());
    PressPanel("CmdText");
    QTest::mousePress(Child<QWidget>("Panel2"), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(Status(2), QString());
    QTest::mouseRelease(Child<QWidget>("Panel2"), Qt::LeftButton, {}, QPoint(-50, 5));

    PressPanel("CmdPaint");
    // Pressing undo and letting go outside it restores nothing but pops it up.
    Drag({10, 10}, {50, 10});
    QWidget* undo = Child<QWidget>("CmdUndo");
    QTest::mousePress(undo, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(undo, Qt::LeftButton, {}, QPoint(500, 5));
    EXPECT_EQ(Pixel(30, 10), kRed);
    EXPECT_EQ(form->Tool(), kNoTool);
    EXPECT_EQ(Child<QFrame>("CmdUndo")->frameShadow(), QFrame::Raised);

    // A release outside "Bearbeitung beenden" does not close; a click does.
    QWidget* done = Child<QWidget>("Panel2");
    QTest::mousePress(done, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(done, Qt::LeftButton, {}, QPoint(-50, 5));
    EXPECT_TRUE(form->isVisible());
    QTest::mouseClick(done, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(form->isVisible());
}

} // namespace
} // namespace glimmerly::test
