#include "editor/editor_geometry.h"

#include <algorithm>

namespace glimmerly {

using platform::Monitor;

int PictureOriginX(const std::vector<Monitor>& monitors) {
    int origin = 0;
    for (const Monitor& m : monitors)
        origin = std::min(origin, m.rect.Left);
    return origin;
}

std::vector<Monitor> MonitorOrder(const std::vector<Monitor>& monitors) {
    long long right = 0;
    for (const Monitor& m : monitors)
        right = std::max<long long>(right, m.rect.Right);

    std::vector<bool> taken(monitors.size(), false);
    std::vector<Monitor> order;
    long long x = PictureOriginX(monitors);
    while (x < right) {
        auto it = std::find_if(monitors.begin(), monitors.end(), [&](const Monitor& m) {
            return !taken[static_cast<std::size_t>(&m - monitors.data())] && m.rect.Left == x &&
                   m.rect.Width() > 0;
        });
        if (it == monitors.end())
            break; // no monitor starts here: a gap or an overlap ends the chain
        taken[static_cast<std::size_t>(it - monitors.begin())] = true;
        order.push_back(*it);
        x += it->rect.Width();
    }

    std::vector<Monitor> rest;
    for (std::size_t i = 0; i < monitors.size(); ++i)
        if (!taken[i])
            rest.push_back(monitors[i]);
    std::stable_sort(rest.begin(), rest.end(), [](const Monitor& a, const Monitor& b) {
        return a.rect.Left != b.rect.Left ? a.rect.Left < b.rect.Left : a.rect.Top < b.rect.Top;
    });
    order.insert(order.end(), rest.begin(), rest.end());
    return order;
}

Rect MonitorClip(const Monitor& monitor, int pictureOriginX) {
    const int left = monitor.rect.Left - pictureOriginX;
    return Rect{left, monitor.rect.Top, left + monitor.rect.Width(), monitor.rect.Bottom};
}

Rect Ordered(Rect r) {
    return Rect{std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
                std::max(r.Top, r.Bottom)};
}

Rect Intersect(Rect a, Rect b) {
    const Rect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                 std::min(a.Bottom, b.Bottom)};
    return IsEmptyRect(r) ? Rect{} : r;
}

std::array<Rect, 4> BorderBands(Rect clip, int width, int height) {
    const Rect picture{0, 0, width, height};
    return {Intersect(Rect{0, 0, width, clip.Top}, picture),
            Intersect(Rect{0, 0, clip.Left, height}, picture),
            Intersect(Rect{clip.Right, 0, width, height}, picture),
            Intersect(Rect{0, clip.Bottom, width, height}, picture)};
}

bool DotAt(int x, int y, int start, int span) {
    if (x < 1 || y < 1)
        return false;
    return (x + y) % 2 == 1 && (x < start || x > start + span);
}

std::string ClipSizeText(Rect clip) {
    return "Bildgr\xC3\xB6\xC3\x9F"
           "e: " +
           std::to_string(static_cast<long long>(clip.Right) - clip.Left) + "x" +
           std::to_string(static_cast<long long>(clip.Bottom) - clip.Top);
}

Rect HandOffRect(Rect clip, int width, int height) {
    return Intersect(Ordered(clip), Rect{0, 0, width, height});
}

Rect PlaceOnDesktop(Rect wanted, const std::vector<Rect>& areas) {
    const long long x = wanted.Left;
    const long long y = wanted.Top;
    const auto distance = [&](const Rect& a) { // squared, from the corner to the nearest pixel
        const long long dx = x < a.Left ? a.Left - x : x >= a.Right ? x - (a.Right - 1) : 0;
        const long long dy = y < a.Top ? a.Top - y : y >= a.Bottom ? y - (a.Bottom - 1) : 0;
        return dx * dx + dy * dy;
    };
    const Rect* nearest = nullptr;
    for (const Rect& a : areas) {
        if (IsEmptyRect(a))
            continue;
        if (distance(a) == 0)
            return wanted; // the corner is on the desktop
        if (!nearest || distance(a) < distance(*nearest))
            nearest = &a;
    }
    if (!nearest)
        return wanted;
    // As near to the wanted place as the area allows, never with the corner off it.
    const int left =
        std::max(nearest->Left, std::min(wanted.Left, nearest->Right - wanted.Width()));
    const int top = std::max(nearest->Top, std::min(wanted.Top, nearest->Bottom - wanted.Height()));
    return Rect{left, top, left + wanted.Width(), top + wanted.Height()};
}

} // namespace glimmerly
