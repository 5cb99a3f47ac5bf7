#include "platform/monitor.h"

#include <algorithm>

namespace glimmerly::platform {

Rect MonitorUnion(const std::vector<Monitor>& monitors) {
    if (monitors.empty())
        return Rect{};
    Rect all = monitors.front().rect;
    for (const Monitor& m : monitors) {
        all.Left = std::min(all.Left, m.rect.Left);
        all.Top = std::min(all.Top, m.rect.Top);
        all.Right = std::max(all.Right, m.rect.Right);
        all.Bottom = std::max(all.Bottom, m.rect.Bottom);
    }
    return all;
}

int PrimaryMonitorHeight(const std::vector<Monitor>& monitors) {
    for (const Monitor& m : monitors) {
        if (m.primary)
            return m.rect.Height();
    }
    return monitors.empty() ? 0 : monitors.front().rect.Height();
}

} // namespace glimmerly::platform
