// Captions, colours and lines of the main window and the session dialog as they are really
// rendered: every caption fits its box in the font the window ends up with.

#include "tests/app/main_form_fixture.h"
#include "tests/support/offscreen_text.h"

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

// Where a control shows something, in its parent's coordinates: a label only where its text is.
QRect ShownArea(const QWidget* w) {
    const auto* label = qobject_cast<const QLabel*>(w);
    if (!label)
        return w->geometry();
    if (label->text().isEmpty())
        return {};
    const int wrap = label->wordWrap() ? int(Qt::TextWordWrap) : 0;
    const QRect text =
        QFontMetrics(label->font())
            .boundingRect(label->contentsRect(), int(label->alignment()) | wrap, label->text());
    return text.translated(label->pos());
}

// The visible controls of `parent` that show something over a sibling, or beyond the parent's
// edge when `within` is set.
std::vector<std::string> Crowded(const QWidget* parent, bool within) {
    std::vector<const QWidget*> shown;
    for (const QObject* child : parent->children()) {
        const auto* w = qobject_cast<const QWidget*>(child);
        if (w && !w->isWindow() && w->isVisibleTo(parent) && !ShownArea(w).isEmpty())
            shown.push_back(w);
    }
    std::vector<std::string> crowded;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            if (ShownArea(shown[i]).intersects(ShownArea(shown[j])))
                crowded.push_back(shown[i]->objectName().toStdString() + " over " +
                                  shown[j]->objectName().toStdString());
        }
        if (within && !parent->rect().contains(ShownArea(shown[i])))
            crowded.push_back(shown[i]->objectName().toStdString() + " beyond " +
                              parent->objectName().toStdString());
    }
    return crowded;
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
    GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE();
    ui().Notebook1->setCurrentIndex(1);
    EXPECT_EQ(Overflows(form.get()), std::vector<std::string>{});

    form->ShowNewVersion("3.3");
    EXPECT_EQ(ui().Label4->text(), Q("Neue Version verfügbar: 3.3"));
    EXPECT_TRUE(ui().Label5->text().endsWith("/download.htm")) << ui().Label5->text().toStdString();
    EXPECT_EQ(Overflows(form.get()), std::vector<std::string>{});
}

TEST_F(CaptionsTest, EveryCaptionOfTheSessionDialogFitsItsBox) {
    GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE();
    sessionForm->show();
    EXPECT_EQ(Overflows(sessionForm.get()), std::vector<std::string>{});
    // The fixed explanations fit by the font, not by bigger boxes: nothing is shown over the
    // buttons or the other explanation.
    EXPECT_EQ(Crowded(dialog().GroupBox1, true), std::vector<std::string>{});
    sessionForm->hide();
}

TEST_F(CaptionsTest, NoControlOfTheMainWindowIsShownOverAnother) {
    GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE();
    EXPECT_EQ(Crowded(form.get(), false), std::vector<std::string>{});
    EXPECT_EQ(Crowded(ui().Notebook1->widget(0), true), std::vector<std::string>{});
    ui().Notebook1->setCurrentIndex(1);
    ui().RenameEdit->setText(Q("ein recht langer Name für den Screenshot"));
    ui().DisplayURLEdit->setText("http://localhost:8460/ein_recht_langer_name.jpg");
    EXPECT_EQ(Crowded(ui().Notebook1->widget(1), true), std::vector<std::string>{});

    ui().SpeedButton1->click(); // the advanced options fold out
    EXPECT_EQ(Crowded(form.get(), false), std::vector<std::string>{});
    EXPECT_EQ(Crowded(ui().GroupBox2, true), std::vector<std::string>{});
    ui().SpeedButton1->click();
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
    for (const QLabel* label : std::initializer_list<const QLabel*>{ui().RenameLabel, ui().Label4,
                                                                    ui().Label5, dialog().Label1})
        EXPECT_TRUE(fitsText(label));

    // A longer text grows the label to the right and down only.
    const QPoint place4 = ui().Label4->pos();
    const QPoint place5 = ui().Label5->pos();
    const int before = ui().Label5->width();
    form->ShowNewVersion("3.3");
    EXPECT_EQ(ui().Label4->pos(), place4);
    EXPECT_EQ(ui().Label5->pos(), place5);
    EXPECT_TRUE(fitsText(ui().Label4));
    EXPECT_TRUE(fitsText(ui().Label5));
    EXPECT_GT(ui().Label5->width(), before);

    // The fixed boxes stay as they are, whatever they show.
    const QRect status = ui().Label1->geometry();
    const QRect instruction = ui().Label2->geometry();
    const QRect hint = ui().Label3->geometry();
    form->ShowStatus(cp1252::FromUtf8("Die Session ist bereits ausgelaufen. Bitte legen Sie eine "
                                      "neue Session an! Und noch etwas mehr Text dazu."));
    ui().Label2->setText(ui().Label2->text() + ui().Label2->text());
    ui().Label3->setText(ui().Label3->text() + ui().Label3->text());
    EXPECT_EQ(ui().Label1->geometry(), status);
    EXPECT_EQ(ui().Label2->geometry(), instruction);
    EXPECT_EQ(ui().Label3->geometry(), hint);
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
    // The footer's line runs along its top edge: right of the about texts, nothing else is drawn.
    const QImage footer = ui().Panel2->grab().toImage();
    const int right = ui().Label5->geometry().right() + 8;
    ASSERT_LT(right, footer.width() - 20);
    const std::vector<int> rows =
        DrawnRows(footer.copy(right, 0, footer.width() - 20 - right, footer.height()));
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
