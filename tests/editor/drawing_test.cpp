// Pen, line, text, colour, undo all and Escape, asserted on the picture's pixels.

#include "editor_fixture.h"
#include "platform/platform.h"
#include "tests/support/offscreen_text.h"

#include "editor/line_preview.h"

#include <QPainter>

namespace glimmerly::test {
namespace {

class DrawingTest : public EditorFixture {
protected:
    int RedPixels() { return static_cast<int>(RedPoints(form->Image()).size()); }
    static std::vector<QPoint> RedPoints(const QImage& image) {
        std::vector<QPoint> points;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == kRed)
                    points.emplace_back(x, y);
        return points;
    }
    static QRect Bounds(const std::vector<QPoint>& points) {
        QRect bounds;
        for (const QPoint& p : points)
            bounds |= QRect(p, QSize(1, 1));
        return bounds;
    }
    // The red rows of one column (or the red columns of one row) between `from` and `to`.
    std::vector<int> RedAcross(int from, int to, int fixed, bool column) {
        std::vector<int> red;
        for (int i = from; i <= to; ++i)
            if ((column ? Pixel(fixed, i) : Pixel(i, fixed)) == kRed)
                red.push_back(i);
        return red;
    }
};

TEST_F(DrawingTest, PenDrawsWithTheLeftButtonOnly) {
    Open(300, 200, true);
    PressPanel("CmdPaint");
    EXPECT_EQ(form->Tool(), kPenTool);
    const QImage before = form->Image();
    Drag({20, 20}, {120, 20}, Qt::RightButton);
    EXPECT_EQ(form->Image(), before);

    Drag({20, 50}, {120, 50});
    Drag({200, 20}, {200, 120});
    // Three pixels wide across the stroke, hard edges, whatever its direction.
    EXPECT_EQ(RedAcross(40, 60, 70, true), (std::vector<int>{49, 50, 51}));
    EXPECT_EQ(RedAcross(190, 210, 70, false), (std::vector<int>{199, 200, 201}));
    EXPECT_EQ(Pixel(70, 48), PatternAt(70, 48));
    EXPECT_EQ(Pixel(202, 70), PatternAt(202, 70));
}

TEST_F(DrawingTest, LineIsWrittenOnReleaseTheSameInEitherDirection) {
    Open(300, 200, true);
    PressPanel("CmdLine");
    auto* preview = Child<TLine>("Line1");
    QTest::mousePress(Image1(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(Image1(), QPoint(110, 60));
    EXPECT_FALSE(preview->isHidden());
    EXPECT_EQ(preview->LineWidth(), 3);
    EXPECT_EQ(preview->Color(), kRed);
    EXPECT_EQ(preview->End(), QPoint(110, 60));
    EXPECT_EQ(Pixel(60, 35), PatternAt(60, 35)); // nothing written while dragging
    QTest::mouseRelease(Image1(), Qt::LeftButton, {}, QPoint(110, 60));
    EXPECT_TRUE(preview->isHidden());
    for (QPoint p :
         {QPoint(10, 10), QPoint(60, 35), QPoint(110, 60), QPoint(60, 34), QPoint(60, 36)})
        EXPECT_EQ(Pixel(p.x(), p.y()), kRed) << p.x() << "," << p.y();
    EXPECT_EQ(Pixel(60, 39), PatternAt(60, 39));
    EXPECT_EQ(Pixel(60, 31), PatternAt(60, 31));
    const QImage forward = form->Image();

    Open(300, 200, true);
    PressPanel("CmdLine");
    Drag({110, 60}, {10, 10});
    EXPECT_EQ(form->Image(), forward);
}

TEST_F(DrawingTest, TextIsWrittenOnEnterAndDroppedByASecondClick) {
    Open(400, 300, true);
    PressPanel("CmdText");
    Click({50, 100});
    auto* edit = Child<QLineEdit>("Edit1");
    EXPECT_FALSE(edit->isHidden());
    EXPECT_EQ(edit->height(), 23);
    EXPECT_EQ(edit->y(), 100 - 11);
    EXPECT_EQ(edit->palette().color(QPalette::Base), PatternAt(50, 100));
    Type(QStringLiteral("Hallo"));
    EXPECT_EQ(edit->width(), QFontMetrics(edit->font()).horizontalAdvance("Hallo") + 20);
    EXPECT_EQ(RedPixels(), 0);
    Key(Qt::Key_Return);
    EXPECT_TRUE(edit->isHidden());
    const int written = RedPixels();
    EXPECT_GT(written, 20);
    // Transparent background: the capture shows between the letters, above the anchor too.
    EXPECT_EQ(Pixel(49, 89), PatternAt(49, 89));

    // Empty Enter writes nothing.
    Click({50, 200});
    Key(Qt::Key_Return);
    EXPECT_EQ(RedPixels(), written);

    // A second click drops the open text.
    Click({200, 200});
    Type(QStringLiteral("weg"));
    Click({200, 250});
    EXPECT_EQ(edit->text(), QString());
    Key(Qt::Key_Return);
    EXPECT_EQ(RedPixels(), written);
}

TEST_F(DrawingTest, WrittenTextHasItsCellTopLeftElevenPixelsAboveTheClick) {
    Open(400, 300, true);
    PressPanel("CmdText");
    Click({50, 100});
    Type(QStringLiteral("Hallo"));
    Key(Qt::Key_Return);
    // The same text drawn with the top-left corner of its character cell at (50, 89).
    const QFont font = Child<QLineEdit>("Edit1")->font();
    QImage expected(form->Image().size(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    QPainter painter(&expected);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(font);
    painter.setPen(kRed);
    painter.drawText(QPoint(50, 89 + QFontMetrics(font).ascent()), QStringLiteral("Hallo"));
    painter.end();
    const std::vector<QPoint> written = RedPoints(form->Image());
    const std::vector<QPoint> drawn = RedPoints(expected);
    ASSERT_GT(written.size(), 20u);
    EXPECT_EQ(Bounds(written), Bounds(drawn));
    EXPECT_TRUE(written == drawn) << "same place, other pixels";

    // A click 37 pixels further down writes the same letters 37 rows lower.
    Open(400, 300, true);
    PressPanel("CmdText");
    Click({50, 137});
    Type(QStringLiteral("Hallo"));
    Key(Qt::Key_Return);
    std::vector<QPoint> lower = RedPoints(form->Image());
    for (QPoint& p : lower)
        p.ry() -= 37;
    EXPECT_TRUE(lower == written) << "moved to " << ::testing::PrintToString(Bounds(lower));
}

TEST_F(DrawingTest, WrittenTextKeepsTheGlyphsThatReachOutOfItsCell) {
    GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE();
    // The red pixels of `text` drawn without any clip, the top-left corner of its cell at
    // (50, 89): where a click at (50, 100) writes it.
    const auto unclipped = [this](const QFont& font, const QString& text) {
        QImage image(form->Image().size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(font);
        painter.setPen(kRed);
        painter.drawText(QPoint(50, 89 + QFontMetrics(font).ascent()), text);
        painter.end();
        return RedPoints(image);
    };
    const auto write = [this](const QString& text) {
        PressPanel("CmdText");
        Click({50, 100});
        Type(text);
        Key(Qt::Key_Return);
    };
    // A leading "j" hooks left of the anchor and a trailing italic "f" leans past the end of
    // the text's advance; both keep every pixel.
    for (const bool italic : {false, true}) {
        SCOPED_TRACE(italic ? "italic" : "regular");
        Open(400, 300, true);
        auto* edit = Child<QLineEdit>("Edit1");
        QFont font = edit->font();
        font.setItalic(italic);
        edit->setFont(font);
        const QString text = italic ? QStringLiteral("jaf") : QStringLiteral("jo");
        write(text);
        const std::vector<QPoint> drawn = unclipped(font, text);
        const QRect glyphs = Bounds(drawn);
        ASSERT_LT(glyphs.left(), 50) << "this font's j does not reach left of its cell";
        if (italic) {
            ASSERT_GT(glyphs.right(), 50 + QFontMetrics(font).horizontalAdvance(text) + 1)
                << "this font's italic f does not lean out of its cell";
        }
        EXPECT_EQ(Bounds(RedPoints(form->Image())), glyphs);
        EXPECT_TRUE(RedPoints(form->Image()) == drawn);
    }

    // Where the hook of the j falls on a grey band it is covered like any other edit there.
    Open(400, 300, true);
    ClickAnywhere({50, 0});
    ClickAnywhere({400, 300});
    write(QStringLiteral("jo"));
    int covered = 0;
    for (const QPoint& p : unclipped(Child<QLineEdit>("Edit1")->font(), QStringLiteral("jo"))) {
        EXPECT_EQ(Pixel(p.x(), p.y()), p.x() < 50 ? kGrey : kRed) << p.x() << "," << p.y();
        covered += p.x() < 50;
    }
    EXPECT_GT(covered, 0);
}

TEST_F(DrawingTest, TextButtonWritesAnOpenTextFirstAndOtherToolsKeepItOpen) {
    Open(400, 300, true);
    PressPanel("CmdText");
    Click({50, 100});
    Type(QStringLiteral("Erst"));
    PressPanel("CmdPaint"); // another tool leaves the box open
    EXPECT_FALSE(Child<QLineEdit>("Edit1")->isHidden());
    EXPECT_EQ(RedPixels(), 0);
    PressPanel("CmdText");
    EXPECT_TRUE(Child<QLineEdit>("Edit1")->isHidden());
    EXPECT_GT(RedPixels(), 10);
    EXPECT_EQ(form->Tool(), kTextTool);
}

TEST_F(DrawingTest, StrokeOverTheBandShowsWhileDrawingAndIsCoveredOnRelease) {
    Open(400, 300, true);
    ClickAnywhere({100, 0});
    ClickAnywhere({400, 300});
    PressPanel("CmdPaint");
    QTest::mousePress(Image1(), Qt::LeftButton, {}, QPoint(50, 150));
    QTest::mouseMove(Image1(), QPoint(150, 150));
    EXPECT_EQ(Pixel(70, 150), kRed);
    QTest::mouseRelease(Image1(), Qt::LeftButton, {}, QPoint(150, 150));
    EXPECT_EQ(Pixel(70, 150), kGrey);
    EXPECT_EQ(Pixel(120, 150), kRed);
}

TEST_F(DrawingTest, UndoAllKeepsAnOpenTextThatEnterWritesOnTheRestoredPicture) {
    Open(400, 300, true);
    PressPanel("CmdPaint");
    Drag({10, 10}, {100, 10});
    PressPanel("CmdText");
    Click({50, 100});
    Type(QStringLiteral("Rest"));
    PressPanel("CmdUndo");
    EXPECT_EQ(Pixel(50, 10), PatternAt(50, 10));
    EXPECT_EQ(form->Tool(), kNoTool);
    EXPECT_EQ(form->ClipRect(), (Rect{0, 0, 400, 300}));
    EXPECT_FALSE(Child<QLineEdit>("Edit1")->isHidden());
    Key(Qt::Key_Return);
    EXPECT_GT(RedPixels(), 10);
    EXPECT_EQ(Pixel(50, 10), PatternAt(50, 10));
}

TEST_F(DrawingTest, ColourDialogStartsBlackThenAtTheLastChoiceAndCancelChangesNothing) {
    Open(400, 300, true);
    std::vector<QColor> offered;
    std::optional<QColor> answer;
    form->SetColourChooser([&](QColor initial) {
        offered.push_back(initial);
        return answer;
    });
    PressPanel("CmdText");
    Click({50, 100});
    Type(QStringLiteral("Blau"));

    QTest::mouseClick(Child<QWidget>("ColorPanel"), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(form->DrawColor(), kRed);
    const QColor blue(0, 0, 255);
    answer = blue;
    QTest::mouseClick(Child<QWidget>("ColorPanel"), Qt::LeftButton, {}, QPoint(5, 5));
    answer.reset();
    QTest::mouseClick(Child<QWidget>("ColorPanel"), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(offered, (std::vector<QColor>{Qt::black, Qt::black, blue}));
    EXPECT_EQ(form->DrawColor(), blue);
    auto* edit = Child<QLineEdit>("Edit1");
    EXPECT_EQ(edit->palette().color(QPalette::Text), blue); // the open text recoloured at once
    EXPECT_EQ(Child<QWidget>("ColorPanel")->palette().color(QPalette::Window), blue);
    Key(Qt::Key_Return);
    EXPECT_EQ(RedPixels(), 0);
}

// The system's chooser as the program opens it: owned by the editor, the colour handed over and
// back channel by channel.
TEST_F(DrawingTest, ThePlatformsChooserBelongsToTheEditorAndKeepsEachChannel) {
    struct Chooser : platform::Dialogs {
        std::optional<std::string> AskJpegSaveFileName(std::uintptr_t) override {
            return std::nullopt;
        }
        std::optional<platform::Colour> ChooseColour(std::uintptr_t owner,
                                                     platform::Colour initial) override {
            owners.push_back(owner);
            offered.push_back(initial);
            return platform::Colour{0x10, 0x20, 0x30};
        }
        std::vector<std::uintptr_t> owners;
        std::vector<platform::Colour> offered;
    } chooser;
    form = std::make_unique<ImageEditorForm>(nullptr, &chooser);
    form->Prepare(Pattern(400, 300), true, {MonitorAt(0, 1920, 1080)});
    form->show();
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(Child<QWidget>("ColorPanel"), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(form->DrawColor(), QColor(0x10, 0x20, 0x30));
    EXPECT_EQ(chooser.offered,
              (std::vector<platform::Colour>{{0, 0, 0}, platform::Colour{0x10, 0x20, 0x30}}));
    const auto editor = static_cast<std::uintptr_t>(form->winId());
    EXPECT_EQ(chooser.owners, (std::vector<std::uintptr_t>{editor, editor}));
}

TEST_F(DrawingTest, EscapeWhileTypingClosesAndTheTextIsLost) {
    Open(400, 300, true);
    PressPanel("CmdText");
    Click({50, 100});
    Type(QStringLiteral("nie"));
    Key(Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(RedPixels(), 0);
    // The next opening starts without the box, in the clip tool.
    form->show();
    EXPECT_TRUE(Child<QLineEdit>("Edit1")->isHidden());
    EXPECT_EQ(form->Tool(), kClipFirstCorner);
}

TEST_F(DrawingTest, EscapeWithTheFocusInTheScrollAreaClosesAndKeepsTheEdits) {
    Open(400, 300, true);
    PressPanel("CmdPaint");
    Drag({20, 50}, {120, 50}); // the release on the picture gives the focus to the scroll area
    auto* scroll = Child<QScrollArea>("ScrollBox1");
    ASSERT_EQ(form->focusWidget(), scroll);
    QTest::keyClick(scroll, Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    // Closing is no cancel: the capture takes the edited picture and its clip.
    const EditorResult result = form->Result();
    EXPECT_EQ(result.clip, (Rect{0, 0, 400, 300}));
    const std::uint8_t* stroke = result.picture.At(70, 50);
    EXPECT_EQ((std::vector<int>{stroke[2], stroke[1], stroke[0]}), (std::vector<int>{255, 0, 0}));
}

} // namespace
} // namespace glimmerly::test
