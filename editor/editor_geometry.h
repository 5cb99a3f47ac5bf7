#pragma once
// The editor's geometry without widgets: the monitors' left-to-right order, clip rectangles, the
// grey bands around the clip, the dot pattern of the monitor strip and the rectangle that is
// handed back to the capture.

#include "imaging/picture.h"
#include "platform/monitor.h"

#include <array>
#include <string>
#include <vector>

namespace glimmerly {

// The desktop column of the captured picture's left edge: the smallest monitor left edge, or 0
// when none is negative.
int PictureOriginX(const std::vector<platform::Monitor>& monitors);

// The monitors from left to right. Starting at PictureOriginX, the first monitor (system order)
// whose left edge is the running x is taken and x moves past it, as long as one fits. Monitors
// the chain does not reach (stacked above another, after a gap, overlapping) follow ordered by
// left edge, then top edge, so every monitor has a place and the walk always ends.
std::vector<platform::Monitor> MonitorOrder(const std::vector<platform::Monitor>& monitors);

// A monitor's rectangle in picture coordinates: x shifted by the picture origin, y unchanged.
Rect MonitorClip(const platform::Monitor& monitor, int pictureOriginX);

// Left <= Right and Top <= Bottom.
Rect Ordered(Rect rect);
// The common part of two ordered rectangles; a zero rectangle when they do not meet.
Rect Intersect(Rect a, Rect b);
inline bool IsEmptyRect(Rect rect) {
    return rect.Width() <= 0 || rect.Height() <= 0;
}

// The four grey bands around `clip` on a width × height picture, in painting order: top, left,
// right, bottom. They overlap in the corners and are cut to the picture (an edge beyond the
// picture leaves that band empty); `clip` is taken as it is, inverted or not.
std::array<Rect, 4> BorderBands(Rect clip, int width, int height);

// Whether the strip's pixel (x, y) is blackened when the cell from `start`, `span` pixels wide,
// is marked: every pixel with x + y odd outside columns start … start + span; row 0 and column 0
// never.
bool DotAt(int x, int y, int start, int span);

// "Bildgröße: 400x300"; negative sizes keep their minus sign (UTF-8).
std::string ClipSizeText(Rect clip);

// What the capture uploads of a width × height picture edited with `clip`: the marked rectangle
// ordered and cut to the picture; a zero rectangle when nothing of it is left.
Rect HandOffRect(Rect clip, int width, int height);

// Where a window's frame goes: `wanted` as it is while its top-left corner lies on one of the
// visible desktop areas (or none are known); otherwise moved onto the area nearest to that
// corner, as far in as its size allows, its top-left corner always on the area.
Rect PlaceOnDesktop(Rect wanted, const std::vector<Rect>& areas);

} // namespace glimmerly
