#pragma once
// Where the capture takes its picture from: the band of all monitors, and the part of it that a
// window covers. Plain geometry, no toolkit.

#include "imaging/picture.h"
#include "platform/platform.h"

#include <optional>
#include <vector>

namespace glimmerly {

// The desktop band: from the leftmost monitor edge (never right of column 0) to the rightmost,
// and from row 0 down to the primary monitor's height.
Rect DesktopBand(const std::vector<platform::Monitor>& monitors, int primaryHeight);

// The window's area in picture coordinates, for a band that starts at desktop column `bandLeft`
// and is `bandWidth` × `bandHeight` pixels. A window overhanging the top-left corner equally on
// both sides is a maximised window whose frame lies off the screen: it becomes (0, 0,
// Right + Left, Bottom + Top). The result is clipped to the band; nullopt when nothing of the
// window is left (a minimised window lies far off the screen), in which case the whole band is
// kept.
std::optional<Rect> WindowArea(Rect window, int bandLeft, int bandWidth, int bandHeight);

// A new picture of `area`'s size holding that area of `source`; parts outside are black.
Picture CopyArea(const Picture& source, Rect area);

} // namespace glimmerly
