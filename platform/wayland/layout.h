#pragma once
// The desktop layout of a Wayland session: which output stands in for the primary monitor, and
// how a picture of the whole layout becomes the band the program asked for. No Qt.
//
// Units: everything is in the compositor's logical units (the layout coordinates that Qt's
// screens, the grab at scale 1 and the window rectangles all use), so that the capture band, the
// crop to a window and the editor's monitor strip agree at any output scale. On an output with
// scale 2 a picture therefore has half the output's device pixels in each direction.

#include "imaging/picture.h"
#include "platform/platform.h"

#include <vector>

namespace glimmerly::platform::wayland {

// Wayland knows no primary output. The one holding the layout's origin (0,0) plays its part (the
// capture band runs from row 0 down to its height), else the first; every other one is marked
// not primary.
void MarkPrimary(std::vector<Monitor>& monitors);

// The band (desktop coordinates) out of `shot`, a picture whose top-left pixel lies at `shotLeft`,
// `shotTop` of the desktop. Only what lies on a monitor is copied: gaps between outputs and
// anything off the outputs stay black, also where the shot has pixels there.
Picture PlaceInBand(const Picture& shot, int shotLeft, int shotTop,
                    const std::vector<Monitor>& monitors, const Rect& band);

} // namespace glimmerly::platform::wayland
