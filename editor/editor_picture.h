#pragma once
// The pictures the editor works on: the unedited capture (OriginalBitmap), the picture being
// edited (Image1's picture, painted without anti-aliasing) and the clip rectangle, with Image1,
// the widget that shows the picture and repaints only the parts that changed.

#include "imaging/picture.h"

#include <QColor>
#include <QImage>
#include <QWidget>

#include <map>

namespace glimmerly {

// The border colour of the grey bands, the window's background (10724259).
inline const QColor kBorderColour(163, 163, 163);
// Pen strokes and lines are both 3 pixels wide; each tool names its own width.
inline constexpr int kPenWidth = 3;
inline constexpr int kLineWidth = 3;

struct EditorPicture {
    Picture OriginalBitmap; // the unedited capture
    QImage original;        // a view of OriginalBitmap's pixels, no copy
    QImage image;           // the picture being edited
    QImage scratch;         // RightRect keeps the clip area here while the capture returns
    Rect ClipRect;          // as set: never ordered or cut to the picture
    QRect touched;          // drawn on since the bands were last painted
    bool pristine = true;   // the edited picture equals the capture

    // Takes the capture: OriginalBitmap and the edited picture both hold it.
    void Load(Picture picture);
    // The edited picture becomes the unedited capture again.
    void RestoreOriginal();
    QRect Bounds() const { return image.rect(); }
    // A solid segment `width` pixels wide in `colour`; returns the rectangle of pixels it may
    // have touched.
    QRect DrawSegment(QPoint from, QPoint to, const QColor& colour, int width);
};

// Image1: shows the edited picture at its own size; the tool is its cursor id.
class PictureView : public QWidget {
    Q_OBJECT

public:
    explicit PictureView(QWidget* parent = nullptr);

    void SetPicture(const EditorPicture* picture);
    // Size to the picture and repaint all of it.
    void PictureReplaced();

    // 0: no tool (default cursor); otherwise an id of the cursor table.
    int CursorId() const { return cursorId_; }
    void SetCursorId(int id);
    void RegisterCursor(int id, const QCursor& cursor);
    // Repaints `area` once control is back in the event loop: the segments of one burst of
    // mouse moves share one repaint.
    void Touch(const QRect& area);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const EditorPicture* picture_ = nullptr;
    int cursorId_ = 0;
    std::map<int, QCursor> cursors_;
    QRect pending_;
};

} // namespace glimmerly
