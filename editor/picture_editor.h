#pragma once
// What the capture and dropped files ask of the picture editor: edit a picture modally and hand
// back the edited picture with the part of it to keep. The editor never reads the main window.

#include "imaging/picture.h"
#include "platform/monitor.h"

#include <vector>

namespace glimmerly {

struct EditorResult {
    Picture picture; // the whole picture as edited
    Rect clip;       // the part that is uploaded (ClipRect)
};

class PictureEditor {
public:
    virtual ~PictureEditor() = default;
    // Shows `picture` for editing and returns once the editor has closed, in whatever way.
    // `wholePicture`: the clip starts as the whole picture (one window, or a dropped file)
    // rather than from the monitor overview. `monitors`: the desktop the picture was taken of,
    // as the capture read it.
    virtual EditorResult Edit(Picture picture, bool wholePicture,
                              const std::vector<platform::Monitor>& monitors) = 0;
};

} // namespace glimmerly
