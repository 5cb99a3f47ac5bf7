#include "capture_geometry.h"

#include <algorithm>
#include <cstring>

namespace glimmerly {

Rect DesktopBand(const std::vector<platform::Monitor>& monitors, int primaryHeight) {
    std::int32_t minLeft = 0;
    std::int32_t maxRight = 0;
    for (const auto& m : monitors) {
        minLeft = std::min(minLeft, m.rect.Left);
        maxRight = std::max(maxRight, m.rect.Left + m.rect.Width());
    }
    return Rect{minLeft, 0, maxRight, primaryHeight};
}

std::optional<Rect> WindowArea(Rect window, int bandLeft, int bandWidth, int bandHeight) {
    // Desktop to picture coordinates; on desktops without monitors left of the primary one
    // (bandLeft 0) this changes nothing.
    Rect r{window.Left - bandLeft, window.Top, window.Right - bandLeft, window.Bottom};
    // A maximised window overhangs every screen edge by its frame: (-8, -8, 1928, 1088) shows
    // (0, 0, 1920, 1080). Only that shape is shifted; any other window reaching left of the band
    // is clipped below, so that the picture shows the part of it that is on the screen.
    if (r.Left < 0 && r.Top == r.Left)
        r = Rect{0, 0, r.Right + r.Left, r.Bottom + r.Top};
    r.Left = std::max(r.Left, 0);
    r.Top = std::max(r.Top, 0);
    r.Right = std::min(r.Right, bandWidth);
    r.Bottom = std::min(r.Bottom, bandHeight);
    if (r.Width() <= 0 || r.Height() <= 0)
        return std::nullopt;
    return r;
}

Picture CopyArea(const Picture& source, Rect area) {
    Picture out(std::max(area.Width(), 0), std::max(area.Height(), 0));
    if (out.Empty())
        return out;
    const int x0 = std::max(area.Left, 0);
    const int x1 = std::min(area.Right, source.width);
    if (x1 <= x0)
        return out;
    for (int y = 0; y < out.height; ++y) {
        const int sy = area.Top + y;
        if (sy < 0 || sy >= source.height)
            continue;
        std::memcpy(out.At(x0 - area.Left, y), source.At(x0, sy),
                    static_cast<std::size_t>(x1 - x0) * 3);
    }
    return out;
}

} // namespace glimmerly
