#pragma once
// The clip tool: two clicks set ClipRect's upper-left, then its lower-right corner; outside the
// rectangle the picture shows grey bands painted into its pixels, and the unedited capture
// comes back there whenever the rectangle changes.

#include "editor/editor_picture.h"

#include <QString>

#include <functional>

namespace glimmerly {

class ClipTool {
public:
    // `showSize` receives the text of status panel 1.
    ClipTool(EditorPicture& picture, PictureView& view, std::function<void(QString)> showSize);

    // The capture outside ClipRect, the edited picture inside it.
    void RightRect();
    // The four bands outside ClipRect in the border colour, only on pixels of the picture.
    void FillClipBorders();
    // The same where something was drawn since the bands were last painted (the release step
    // after a stroke, a line or a text): the rest of the bands is grey already.
    void CoverTouched();
    void DisplayClipSize();

    // Sets ClipRect and shows it: the capture returns outside the old rectangle, then the bands
    // and the size follow the new one.
    void SetClip(Rect clip);
    // A press while the first (upper-left) or the second (lower-right) corner is awaited.
    void FirstCorner(QPoint at);
    void SecondCorner(QPoint at);

private:
    EditorPicture& picture_;
    PictureView& view_;
    std::function<void(QString)> showSize_;
};

} // namespace glimmerly
