#include "platform/wayland/layout.h"

#include <algorithm>
#include <cstring>

namespace glimmerly::platform::wayland {

void MarkPrimary(std::vector<Monitor>& monitors) {
    auto atOrigin = std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) {
        return m.rect.Left <= 0 && 0 < m.rect.Right && m.rect.Top <= 0 && 0 < m.rect.Bottom;
    });
    if (atOrigin == monitors.end())
        atOrigin = monitors.begin();
    for (auto m = monitors.begin(); m != monitors.end(); ++m)
        m->primary = m == atOrigin;
}

Picture PlaceInBand(const Picture& shot, int shotLeft, int shotTop,
                    const std::vector<Monitor>& monitors, const Rect& band) {
    if (band.Width() <= 0 || band.Height() <= 0)
        return Picture();
    Picture picture(band.Width(), band.Height()); // black
    const Rect shotRect{shotLeft, shotTop, shotLeft + shot.width, shotTop + shot.height};
    for (const Monitor& monitor : monitors) {
        // The part of this output that is in the band and in the shot, in desktop coordinates.
        const Rect r{std::max({monitor.rect.Left, band.Left, shotRect.Left}),
                     std::max({monitor.rect.Top, band.Top, shotRect.Top}),
                     std::min({monitor.rect.Right, band.Right, shotRect.Right}),
                     std::min({monitor.rect.Bottom, band.Bottom, shotRect.Bottom})};
        if (r.Width() <= 0 || r.Height() <= 0)
            continue;
        for (int y = r.Top; y < r.Bottom; ++y) {
            std::memcpy(picture.At(r.Left - band.Left, y - band.Top),
                        shot.At(r.Left - shotLeft, y - shotTop),
                        static_cast<std::size_t>(r.Width()) * 3);
        }
    }
    return picture;
}

} // namespace glimmerly::platform::wayland
