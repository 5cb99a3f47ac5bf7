#pragma once
// One monitor of the desktop, and the arithmetic over the monitor list that the capture, the
// editor and every backend share.

#include "imaging/picture.h"

#include <vector>

namespace glimmerly::platform {

struct Monitor {
    Rect rect; // desktop coordinates
    bool primary = false;
};

// The smallest rectangle holding every monitor; empty when there is none.
Rect MonitorUnion(const std::vector<Monitor>& monitors);
// Height of the primary monitor; the first monitor's when none is marked primary, 0 without any.
int PrimaryMonitorHeight(const std::vector<Monitor>& monitors);

} // namespace glimmerly::platform
