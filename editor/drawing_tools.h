#pragma once
// The drawing tools: the pen draws freehand, the line tool drags a preview (TLine) and writes
// the segment on release, the text tool opens Edit1 over the picture and writes its text on
// Enter. Each writes straight into the edited picture and repaints only what it touched. The
// preview and the text box are children of the scroll area, not of the picture (so that they
// show beside a small picture too): they are placed at picture pixels plus the picture's offset
// in the scroll area.

#include "editor/editor_picture.h"

#include <QColor>
#include <QPoint>

class QLineEdit;

namespace glimmerly {

class TLine;

class PenTool {
public:
    PenTool(EditorPicture& picture, PictureView& view) : picture_(picture), view_(view) {}
    // A left press leaves a dot and starts the stroke; other buttons draw nothing.
    void Press(QPoint at, bool left, const QColor& colour);
    void Move(QPoint to, bool mouseIsDown, const QColor& colour);

private:
    EditorPicture& picture_;
    PictureView& view_;
    QPoint position_;
};

class LineTool {
public:
    LineTool(EditorPicture& picture, PictureView& view, TLine& preview)
        : picture_(picture), view_(view), preview_(preview) {}
    void Press(QPoint at, const QColor& colour);
    void Move(QPoint to);
    // Writes the segment from the start to `at`, in whichever direction the pointer went.
    void Release(QPoint at, const QColor& colour);
    // The preview lies in the scroll area above the picture: it moves along when the picture
    // is scrolled.
    void FollowPicture();

private:
    EditorPicture& picture_;
    PictureView& view_;
    TLine& preview_;
    QPoint start_; // picture pixels
    QPoint end_;
};

class TextTool {
public:
    TextTool(EditorPicture& picture, PictureView& view, QLineEdit& edit)
        : picture_(picture), view_(view), edit_(edit) {}
    // Drops an open text and opens an empty box centred on the click, its background the
    // picture's colour there.
    void Press(QPoint at);
    // The box is as wide as its text plus 20 pixels.
    void Changed();
    // Enter: hides the box and writes its text with the top-left corner of its cell at
    // (anchor.x, anchor.y − 11), no background, every pixel of its glyphs.
    void Write();
    // The box lies in the scroll area above the picture: it moves along when the picture is
    // scrolled.
    void FollowPicture();
    void SetColour(const QColor& colour);
    bool IsOpen() const;
    QPoint TextAnchor() const { return anchor_; }

private:
    EditorPicture& picture_;
    PictureView& view_;
    QLineEdit& edit_;
    QPoint anchor_;
};

} // namespace glimmerly
