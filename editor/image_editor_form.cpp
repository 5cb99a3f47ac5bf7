#include "editor/image_editor_form.h"

#include "editor/design_font.h"
#include "editor/editor_geometry.h"
#include "editor/monitor_overview.h"
#include "imaging/qt/picture_qimage.h"
#include "platform/platform.h"
#include "ui_image_editor_form.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <algorithm>

namespace glimmerly {
namespace {

const QColor kWindowColour(163, 163, 163); // 10724259

struct ToolChoice {
    const char* panel;
    const char* hint;
    int cursor;
};

const ToolChoice kTools[] = {
    {"CmdClip", "Markieren Sie per Mausklick die Bildr\xC3\xA4nder.", kClipFirstCorner},
    {"CmdPaint",
     "Zeichnen Sie mit gedr\xC3\xBC"
     "ckter Maustaste eine Freihandlinie.",
     kPenTool},
    {"CmdLine",
     "Ziehen Sie mit gedr\xC3\xBC"
     "ckter Maustaste eine Linie.",
     kLineTool},
    {"CmdText", "Klicken Sie auf eine Stelle im Bild und geben Sie Text ein.", kTextTool},
};

void FillWith(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

ImageEditorForm::ImageEditorForm(QWidget* parent, platform::Dialogs* dialogs)
    : QDialog(parent), ui_(std::make_unique<Ui::ImageEditorForm>()) {
    ui_->setupUi(this);
    FormCreate();
    if (!dialogs)
        return;
    // The system's colour chooser, owned by the editor.
    chooser_ = [this, dialogs](QColor initial) -> std::optional<QColor> {
        const std::optional<platform::Colour> chosen =
            dialogs->ChooseColour(static_cast<std::uintptr_t>(winId()),
                                  platform::Colour{static_cast<std::uint8_t>(initial.red()),
                                                   static_cast<std::uint8_t>(initial.green()),
                                                   static_cast<std::uint8_t>(initial.blue())});
        if (!chosen)
            return std::nullopt;
        return QColor(chosen->red, chosen->green, chosen->blue);
    };
}

ImageEditorForm::~ImageEditorForm() = default;

void ImageEditorForm::FormCreate() {
    setFont(DesignFont(11));
    ui_->MonitorSelectLabel->setFont(DesignFont(11, true));
    ui_->MonitorSelectLabel->adjustSize();
    ui_->Label2->adjustSize();
    FillWith(this, kWindowColour);
    FillWith(ui_->ScrollBox1->viewport(), kWindowColour);
    // The main window's style sheet reaches this window too, and with a sheet in force the
    // scroll area paints its empty part from the sheet, not from the palette.
    ui_->ScrollBox1->setStyleSheet(
        QStringLiteral("#ScrollBox1 { background-color: %1; }").arg(kWindowColour.name()));
    FillWith(ui_->DesktopPanel, QColor(176, 0, 0));
    // The strip's mouse goes to its panel; a disabled label would draw the strip greyed.
    ui_->DesktopImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui_->ScrollBox1->horizontalScrollBar()->setTracking(true);
    ui_->ScrollBox1->verticalScrollBar()->setTracking(true);
    // The form gives the scroll area Tab focus only: Image1Click alone hands it the keyboard, so a
    // click never takes it from an open text box (strokes would swallow the typing and the Enter).
    // The text box and the line preview lie in the scroll area above the picture. As children
    // of the picture they would be cut off at its edges, invisible beside a small picture.
    for (QWidget* w : {static_cast<QWidget*>(ui_->Edit1), static_cast<QWidget*>(ui_->Line1)})
        w->setParent(ui_->ScrollBox1->viewport());

    QFont editFont = DesignFont(19);
    editFont.setStyleStrategy(QFont::NoAntialias);
    ui_->Edit1->setFont(editFont);
    ui_->Edit1->setFixedHeight(23);
    ui_->Edit1->setPalette(QPalette(palette().color(QPalette::Button)));

    ui_->Image1->SetPicture(&picture_);
    clip_ = std::make_unique<ClipTool>(picture_, *ui_->Image1,
                                       [this](QString text) { ui_->StatusPanel1->setText(text); });
    pen_ = std::make_unique<PenTool>(picture_, *ui_->Image1);
    line_ = std::make_unique<LineTool>(picture_, *ui_->Image1, *ui_->Line1);
    text_ = std::make_unique<TextTool>(picture_, *ui_->Image1, *ui_->Edit1);
    ui_->Line1->hide();
    ui_->Edit1->hide();

    overview_ = std::make_unique<MonitorOverview>(
        *ui_->MonitorSelectBox, *ui_->DesktopPanel, *ui_->DesktopImage, picture_, *clip_,
        [this](int x) { ui_->ScrollBox1->horizontalScrollBar()->setValue(x); });
    LoadCursors();
    ShowColour();

    toolPanels_ = {ui_->CmdClip, ui_->CmdPaint, ui_->CmdLine,
                   ui_->CmdText, ui_->CmdUndo,  ui_->Panel2};
    for (QWidget* watched : toolPanels_)
        watched->installEventFilter(this);
    for (QWidget* watched : std::initializer_list<QWidget*>{
             ui_->ColorPanel, ui_->DesktopPanel, static_cast<QWidget*>(ui_->Image1),
             ui_->ScrollBox1->viewport(), static_cast<QWidget*>(ui_->Edit1)})
        watched->installEventFilter(this);
    connect(ui_->Edit1, &QLineEdit::textChanged, this, [this] { text_->Changed(); });
}

void ImageEditorForm::LoadCursors() {
    const struct {
        int id;
        const char* file;
        int x, y;
    } cursors[] = {{kClipFirstCorner, "cursor_clip_first", 8, 8},
                   {kClipSecondCorner, "cursor_clip_second", 23, 23},
                   {kPenTool, "cursor_pen", 12, 23},
                   {kTextTool, "cursor_text", 16, 15},
                   {kLineTool, "cursor_line", 16, 16}};
    for (const auto& c : cursors) {
        const QPixmap image(QStringLiteral(":/glimmerly/%1.png").arg(QLatin1String(c.file)));
        ui_->Image1->RegisterCursor(c.id, image.isNull() ? QCursor(Qt::CrossCursor)
                                                         : QCursor(image, c.x, c.y));
    }
}

void ImageEditorForm::Prepare(Picture picture, bool wholePicture,
                              const std::vector<platform::Monitor>& monitors) {
    picture_.Load(std::move(picture));
    wholePicture_ = wholePicture;
    // The desktop as it was at this capture: a monitor plugged in since start shows too.
    ui_->StatusPanel0->setText(QStringLiteral("Verwendete Monitore: %1").arg(monitors.size()));
    overview_->SetMonitors(monitors);
    ui_->Image1->PictureReplaced();
}

EditorResult ImageEditorForm::Edit(Picture picture, bool wholePicture,
                                   const std::vector<platform::Monitor>& monitors) {
    Prepare(std::move(picture), wholePicture, monitors);
    exec();
    // Let the windows behind repaint now that the editor has gone.
    QCoreApplication::processEvents();
    return Result();
}

EditorResult ImageEditorForm::Result() const {
    return {FromQImage(picture_.image), picture_.ClipRect};
}

void ImageEditorForm::setVisible(bool visible) {
    // Before the dialog would centre itself over its parent.
    if (visible && !isVisible())
        PlaceWindow();
    // Where the user left it, read while the window manager's frame is still known: once hidden,
    // the frame can be dropped (frameGeometry() then is the inner corner, and the window would
    // come back lower by its title bar each time).
    if (!visible && isVisible())
        leftAt_ = frameGeometry().topLeft();
    QDialog::setVisible(visible);
}

void ImageEditorForm::PlaceWindow() {
    const QRect frame = frameGeometry();
    const QPoint corner = placed_ ? leftAt_ : QPoint(210, 138);
    std::vector<Rect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect a = screen->availableGeometry();
        areas.push_back(Rect{a.left(), a.top(), a.left() + a.width(), a.top() + a.height()});
    }
    const Rect placed = PlaceOnDesktop(
        Rect{corner.x(), corner.y(), corner.x() + frame.width(), corner.y() + frame.height()},
        areas);
    move(placed.Left, placed.Top);
    placed_ = true;
}

void ImageEditorForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void ImageEditorForm::FormShow() {
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->MonitorSelectLabel,
                                                      static_cast<QWidget*>(ui_->MonitorSelectBox),
                                                      ui_->DesktopPanel})
        w->setVisible(!wholePicture_);
    if (wholePicture_) {
        picture_.ClipRect = Rect{0, 0, picture_.image.width(), picture_.image.height()};
        clip_->DisplayClipSize();
    } else {
        overview_->Open();
    }
    activeToolPanel_ = nullptr;
    ui_->Edit1->hide();
    ui_->Edit1->clear();
    ui_->Line1->hide();
    ui_->ScrollBox1->setFocus();
    for (QWidget* panel : toolPanels_)
        if (panel->objectName().startsWith(QLatin1String("Cmd")))
            SetBevel(panel, false);
    SelectMode(ui_->CmdClip);
}

int ImageEditorForm::Tool() const {
    return ui_->Image1->CursorId();
}

void ImageEditorForm::SetColourChooser(std::function<std::optional<QColor>(QColor)> chooser) {
    chooser_ = std::move(chooser);
}

void ImageEditorForm::SetBevel(QWidget* panel, bool lowered) {
    if (auto* frame = qobject_cast<QFrame*>(panel))
        frame->setFrameShadow(lowered ? QFrame::Sunken : QFrame::Raised);
}

void ImageEditorForm::StatusText(const QString& text) {
    ui_->StatusPanel2->setText(text);
}

void ImageEditorForm::SelectMode(QWidget* panel) {
    if (panel == activeToolPanel_) {
        ui_->Image1->SetCursorId(kNoTool);
        SetBevel(panel, false);
        StatusText(QString());
        activeToolPanel_ = nullptr;
        return;
    }
    if (activeToolPanel_)
        SelectMode(activeToolPanel_);
    SetBevel(panel, true);
    activeToolPanel_ = panel;
    for (const ToolChoice& tool : kTools) {
        if (panel->objectName() != QLatin1String(tool.panel))
            continue;
        if (tool.cursor == kTextTool && text_->IsOpen())
            Edit1KeyPress(Qt::Key_Return); // an open text is written first
        StatusText(QString::fromUtf8(tool.hint));
        ui_->Image1->SetCursorId(tool.cursor);
    }
}

void ImageEditorForm::Image1MouseDown(Qt::MouseButton button, QPoint at) {
    mouseIsDown_ = button == Qt::LeftButton;
    switch (ui_->Image1->CursorId()) {
    case kClipFirstCorner:
        clip_->FirstCorner(at);
        ui_->Image1->SetCursorId(kClipSecondCorner);
        break;
    case kClipSecondCorner:
        clip_->SecondCorner(at);
        SelectMode(ui_->CmdClip);
        break;
    case kPenTool:
        pen_->Press(at, mouseIsDown_, drawColor_);
        break;
    case kTextTool:
        text_->Press(at);
        break;
    case kLineTool:
        line_->Press(at, drawColor_);
        break;
    default:
        break;
    }
}

void ImageEditorForm::Image1MouseMove(QPoint at) {
    if (ui_->Image1->CursorId() == kPenTool)
        pen_->Move(at, mouseIsDown_, drawColor_);
    else if (ui_->Image1->CursorId() == kLineTool)
        line_->Move(at);
}

void ImageEditorForm::Image1MouseUp(QPoint at) {
    if (ui_->Image1->CursorId() == kLineTool)
        line_->Release(at, drawColor_);
    CommonRelease();
}

void ImageEditorForm::CommonRelease() {
    mouseIsDown_ = false;
    clip_->CoverTouched();
}

void ImageEditorForm::Image1Click() {
    if (!ui_->Edit1->hasFocus())
        ui_->ScrollBox1->setFocus(Qt::MouseFocusReason);
}

void ImageEditorForm::Edit1KeyPress(int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return;
    text_->Write();
    CommonRelease();
}

void ImageEditorForm::ShowColour() {
    FillWith(ui_->ColorPanel, drawColor_);
    text_->SetColour(drawColor_);
}

void ImageEditorForm::ColorPanelClick() {
    const std::optional<QColor> chosen = chooser_ ? chooser_(dialogColour_) : std::nullopt;
    if (!chosen)
        return;
    dialogColour_ = *chosen;
    drawColor_ = *chosen;
    ShowColour();
}

void ImageEditorForm::CmdUndoClick() {
    picture_.RestoreOriginal();
    ui_->Image1->update();
    if (!wholePicture_) {
        overview_->ApplyEntry(0);
        return;
    }
    picture_.ClipRect = Rect{0, 0, picture_.image.width(), picture_.image.height()};
    clip_->DisplayClipSize();
}

} // namespace glimmerly
