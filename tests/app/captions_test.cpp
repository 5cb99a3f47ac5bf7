// Captions, colours and lines of the main window and the session dialog as they are really
// rendered: every caption fits its box in the font the window ends up with.

#include "tests/app/main_form_fixture.h"

#include "app/new_session_form.h"

#include "ui_main_form.h"
#include "ui_new_session_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>

#include <string>
#include <vector>

namespace glimmerly {
namespace {

std::string Describe(const QWidget* w, const char* what, int need, int room) {
    return w->objectName().toStdString() + ": " + what + " " + std::to_string(need) + " > " +
           std::to_string(room);
}

// The room a caption gets is what the control's own style leaves for it.
void CheckLabel(const QLabel* label, std::vector<std::string>& overflows) {
    if (label->text().isEmpty())
        return;
    const QRect room = label->contentsRect();
    const QFontMetrics fm(label->font());
    if (label->wordWrap()) {
        const QRect wrapped = fm.boundingRect(QRect(0, 0, room.width(), 100000),
                                              Qt::TextWordWrap | label->alignment(), label->text());
        if (wrapped.height() > room.height())
            overflows.push_back(Describe(label, "wrapped height", wrapped.height(), room.height()));
        return;
    }
    const int width = fm.horizontalAdvance(label->text());
    if (width > room.width())
        overflows.push_back(Describe(label, "width", width, room.width()));
    if (fm.height() > room.height())
        overflows.push_back(Describe(label, "height", fm.height(), room.height()));
}

void CheckCheckBox(const QCheckBox* box, std::vector<std::string>& overflows) {
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    // The caption starts right of the indicator and is cut at the control's edge.
    const QRect text = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    const int width = QFontMetrics(box->font()).horizontalAdvance(box->text());
    if (text.left() + width > box->width())
        overflows.push_back(Describe(box, "caption end", text.left() + width, box->width()));
}

void CheckButton(const QAbstractButton* button, std::vector<std::string>& overflows) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QStyle::SubElement contents = qobject_cast<const QPushButton*>(button)
                                            ? QStyle::SE_PushButtonContents
                                            : QStyle::SE_PushButtonBevel;
    const QRect room = button->style()->subElementRect(contents, &option, button);
    const int width = QFontMetrics(button->font()).horizontalAdvance(button->text());
    if (width > room.width())
        overflows.push_back(Describe(button, "width", width, room.width()));
}

void CheckGroupBox(const QGroupBox* group, std::vector<std::string>& overflows) {
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    const QRect label = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                       QStyle::SC_GroupBoxLabel, group);
    const int width = QFontMetrics(group->font()).horizontalAdvance(group->title());
    if (label.left() + width > group->width())
        overflows.push_back(Describe(group, "title end", label.left() + width, group->width()));
}

// Every control of the window whose caption does not fit, with the numbers.
std::vector<std::string> Overflows(QWidget* window) {
    std::vector<std::string> overflows;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window)
            continue; // a dialog parented to the window is checked on its own
        w->ensurePolished();
        if (auto* label = qobject_cast<QLabel*>(w))
            CheckLabel(label, overflows);
        else if (auto* box = qobject_cast<QCheckBox*>(w))
            CheckCheckBox(box, overflows);
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            CheckButton(button, overflows);
        else if (auto* group = qobject_cast<QGroupBox*>(w))
            CheckGroupBox(group, overflows);
    }
    return overflows;
}

// Rows of the picture that hold anything but the colour of its bottom-left pixel.
std::vector<int> DrawnRows(const QImage& image) {
    const QRgb background = image.pixel(0, image.height() - 1);
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) {
                rows.push_back(y);
                break;
            }
    return rows;
}

class CaptionsTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        sessionForm = std::make_unique<NewSessionForm>(form.get()); // parented as in the program
        form->SetDialogs(sessionForm.get(), nullptr);
    }
    void TearDown() override {
        sessionForm.reset();
        MainFormTest::TearDown();
    }
    Ui::NewSessionForm& dialog() { return sessionForm->Controls(); }

    std::unique_ptr<NewSessionForm> sessionForm;
};

TEST_F(CaptionsTest, EveryCaptionOfTheMainWindowFitsItsBox) {
    ui().Notebook1->setCurrentIndex(1);
    EXPECT_EQ(Overflows(form.get()), std::vector<std::string>{});

    form->ShowNewVersion("3.3");
    EXPECT_EQ(ui().Label4->text(), Q("Neue Version verfügbar: 3.3"));
    EXPECT_TRUE(ui().Label5->text().endsWith("/download.htm")) << ui().Label5->text().toStdString();
    EXPECT_EQ(Overflows(form.get()), std::vector<std::string>{});
}

TEST_F(CaptionsTest, EveryCaptionOfTheSessionDialogFitsItsBox) {
    sessionForm->show();
    EXPECT_EQ(Overflows(sessionForm.get()), std::vector<std::string>{});
    // The fixed explanation keeps its box: its lines fit by the font, not by a bigger box.
    EXPECT_EQ(dialog().Label3->geometry(), QRect(8, 64, 225, 49));
    EXPECT_EQ(dialog().Label4->geometry(), QRect(8, 112, 337, 41));
    sessionForm->hide();
}

TEST_F(CaptionsTest, LabelsSizeThemselvesToTheirTextAndKeepTheirPlace) {
    // As wide as its text (give or take the pixel the glyphs' ink may overhang), as tall as a line.
    const auto fitsText = [](const QLabel* label) -> ::testing::AssertionResult {
        const QFontMetrics fm(label->font());
        const int text = fm.horizontalAdvance(label->text());
        if (label->width() < text || label->width() > text + 1 || label->height() < fm.height())
            return ::testing::AssertionFailure()
                   << label->objectName().toStdString() << " " << label->width() << "x"
                   << label->height() << " for text " << text << "x" << fm.height();
        return ::testing::AssertionSuccess();
    };
    EXPECT_EQ(ui().RenameLabel->pos(), QPoint(0, 16));
    EXPECT_TRUE(fitsText(ui().RenameLabel));
    EXPECT_EQ(ui().Label4->pos(), QPoint(51, 12));
    EXPECT_TRUE(fitsText(ui().Label4));
    EXPECT_EQ(ui().Label5->pos(), QPoint(48, 28));
    EXPECT_TRUE(fitsText(ui().Label5));
    EXPECT_EQ(dialog().Label1->pos(), QPoint(8, 32));
    EXPECT_TRUE(fitsText(dialog().Label1));

    const int before = ui().Label5->width();
    form->ShowNewVersion("3.3");
    EXPECT_EQ(ui().Label5->pos(), QPoint(48, 28));
    EXPECT_TRUE(fitsText(ui().Label5));
    EXPECT_GT(ui().Label5->width(), before);
    EXPECT_TRUE(fitsText(ui().Label4));

    // The fixed boxes stay as they are.
    EXPECT_EQ(ui().Label1->geometry(), QRect(8, 8, 393, 17));
    EXPECT_EQ(ui().Label2->geometry(), QRect(40, 5, 313, 49));
    EXPECT_EQ(ui().Label3->geometry(), QRect(0, 65, 393, 17));
}

TEST_F(CaptionsTest, MainWindowColoursStayOnItsOwnControls) {
    sessionForm->show();
    const QColor text = sessionForm->palette().color(QPalette::WindowText);
    EXPECT_EQ(dialog().Label3->palette().color(QPalette::WindowText), text);
    EXPECT_EQ(dialog().Label4->palette().color(QPalette::WindowText), text);
    EXPECT_EQ(dialog().Label1->palette().color(QPalette::WindowText), text);
    sessionForm->hide();

    ui().Label3->ensurePolished();
    ui().Label5->ensurePolished();
    EXPECT_EQ(ui().Label3->palette().color(QPalette::WindowText), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(ui().Label5->palette().color(QPalette::WindowText), QColor(0, 0, 0xff));
    const QColor silver(0xc0, 0xc0, 0xc0);
    EXPECT_EQ(QColor(ui().Panel1->grab().toImage().pixel(20, 40)), silver);
    EXPECT_EQ(QColor(ui().DisplayURLEdit->grab().toImage().pixel(8, 10)), silver);
    EXPECT_EQ(QColor(ui().SessionUrlEdit->grab().toImage().pixel(8, 10)), silver);
}

TEST_F(CaptionsTest, FooterLineAndSessionAddressPanelAreDrawnAsInTheLayout) {
    // The footer's line runs along the top edge of its box.
    EXPECT_EQ(ui().Bevel1->geometry(), QRect(8, 0, 393, 17));
    const std::vector<int> rows = DrawnRows(ui().Bevel1->grab().toImage());
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), 0);
    EXPECT_LE(rows.back(), 1);

    // The session address panel has the window's own colour around its text box.
    ui().SessionUrlPanel->show();
    const QImage panel = ui().SessionUrlPanel->grab().toImage();
    EXPECT_EQ(QColor(panel.pixel(1, panel.height() / 2)), form->palette().color(QPalette::Window));
    ui().SessionUrlPanel->hide();
}

TEST_F(CaptionsTest, FoldOutButtonIsNoTabStop) {
    EXPECT_FALSE(ui().SpeedButton1->focusPolicy() & Qt::TabFocus);
}

} // namespace
} // namespace glimmerly
