#pragma once
// The modal picture editor window. It owns the controls of its form and routes the mouse by the
// tool, which is the cursor id of Image1: 5001/5002 the two corners of the clip, 5004 the pen,
// 5005 the text, 5006 the line. The tools, the clip and the monitor overview live in their own
// files; the window never reads the main window: it is given the monitors at creation and the
// picture (and whether it shows one window) with each Edit.

#include "editor/clip_tool.h"
#include "editor/drawing_tools.h"
#include "editor/editor_picture.h"
#include "editor/picture_editor.h"
#include "platform/monitor.h"

#include <QColor>
#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QEvent;
class QFrame;
class QLabel;
class QMouseEvent;

namespace Ui {
class ImageEditorForm;
}

namespace glimmerly {

class MonitorOverview;
namespace platform {
class Dialogs;
}

enum ToolCursor : int {
    kNoTool = 0,
    kClipFirstCorner = 5001,
    kClipSecondCorner = 5002,
    kPenTool = 5004,
    kTextTool = 5005,
    kLineTool = 5006,
};

class ImageEditorForm : public QDialog, public PictureEditor {
    Q_OBJECT

public:
    // `dialogs` has the colour chooser the editor opens; without one the chooser is cancelled at
    // once unless SetColourChooser gives another.
    explicit ImageEditorForm(QWidget* parent = nullptr, platform::Dialogs* dialogs = nullptr);
    ~ImageEditorForm() override;

    // Loads the picture, runs the editor modally, and hands back the edited picture with
    // ClipRect as the user left it (the capture cuts it to the picture).
    EditorResult Edit(Picture picture, bool wholePicture,
                      const std::vector<platform::Monitor>& monitors) override;
    // The parts of Edit, for showing the editor without a modal loop.
    void Prepare(Picture picture, bool wholePicture,
                 const std::vector<platform::Monitor>& monitors);
    EditorResult Result() const;

    const QImage& Image() const { return picture_.image; }
    Rect ClipRect() const { return picture_.ClipRect; }
    QColor DrawColor() const { return drawColor_; }
    int Tool() const;
    MonitorOverview& Overview() { return *overview_; }
    // Asks for a colour, starting at `initial`; nullopt when cancelled. Replaceable for tests.
    void SetColourChooser(std::function<std::optional<QColor>(QColor initial)> chooser);

    // The application-wide hook, for the wheel over the editor's own widgets, which goes with
    // the keyboard: while the scroll area is the active control each vertical step scrolls the
    // picture 40 pixels; while the text box or the monitor list has the keyboard the picture
    // does not scroll at all (the list alone keeps its own wheel). Wheel events it acts on
    // count as handled, so the scroll area never scrolls by itself.
    bool AppMessage(QObject* receiver, QEvent* event);

    // Opens at the window's own place on the desktop (see PlaceWindow).
    void setVisible(bool visible) override;

    // Handlers, by the names of the window's events.
    void SelectMode(QWidget* panel);
    void Image1MouseDown(Qt::MouseButton button, QPoint at);
    void Image1MouseMove(QPoint at);
    void Image1MouseUp(QPoint at);
    void Image1Click();
    void ColorPanelClick();
    void CmdUndoClick();
    void Edit1KeyPress(int key);
    void StatusText(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    // The frame's corner at 210,138 at the first opening, later where the user left it; moved
    // onto the visible desktop when that corner is off it.
    void PlaceWindow();
    void LoadCursors();
    void SetBevel(QWidget* panel, bool lowered);
    void ShowColour();
    void CommonRelease();
    bool PanelEvent(QWidget* panel, QEvent* event);
    bool PictureEvent(QPoint at, QEvent* event);

    std::unique_ptr<Ui::ImageEditorForm> ui_;
    EditorPicture picture_;
    std::unique_ptr<ClipTool> clip_;
    std::unique_ptr<PenTool> pen_;
    std::unique_ptr<LineTool> line_;
    std::unique_ptr<TextTool> text_;
    std::unique_ptr<MonitorOverview> overview_;
    std::vector<QWidget*> toolPanels_;
    QWidget* activeToolPanel_ = nullptr;
    QColor drawColor_{255, 0, 0};
    QColor dialogColour_{0, 0, 0};
    std::function<std::optional<QColor>(QColor)> chooser_;
    bool mouseIsDown_ = false;
    bool wholePicture_ = true;
    bool placed_ = false;
    QPoint leftAt_; // the frame's corner when it was last hidden
};

} // namespace glimmerly
