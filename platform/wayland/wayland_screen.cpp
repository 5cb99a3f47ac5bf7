#include "imaging/qt/picture_qimage.h"
#include "platform/wayland/layout.h"
#include "platform/wayland/portal_screenshot.h"
#include "platform/wayland/wayland_parts.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstring>

namespace glimmerly::platform::wayland {

GrabRoute ChooseGrabRoute(const char* forced, bool grimCanGrab) {
    if (forced != nullptr && std::strcmp(forced, "grim") == 0)
        return GrabRoute::Grim;
    if (forced != nullptr && std::strcmp(forced, "portal") == 0)
        return GrabRoute::Portal;
    return grimCanGrab ? GrabRoute::Grim : GrabRoute::Portal;
}

WaylandScreen::WaylandScreen(GrabRoute route)
    : route_(route), portal_(std::make_unique<PortalScreenshot>()) {}

WaylandScreen::~WaylandScreen() = default;

std::vector<Monitor> WaylandScreen::Monitors() {
    // On Wayland Qt gives position and size in the compositor's logical units.
    std::vector<Monitor> monitors;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        monitors.push_back(Monitor{Rect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()}});
    }
    MarkPrimary(monitors);
    return monitors;
}

Picture WaylandScreen::Grab(const Rect& band) {
    if (band.Width() <= 0 || band.Height() <= 0)
        return Picture();
    std::vector<Monitor> monitors = Monitors();
    Picture shot = route_ == GrabRoute::Grim ? GrabWithGrim() : portal_->Take();
    if (monitors.empty())
        monitors.push_back(Monitor{Rect{0, 0, shot.width, shot.height}, true});
    const Rect layout = MonitorUnion(monitors);
    if (!shot.Empty() && (shot.width != layout.Width() || shot.height != layout.Height())) {
        // A portal picture in device pixels (outputs with scale 2): back to logical units.
        shot = FromQImage(ToQImage(shot).scaled(layout.Width(), layout.Height(),
                                                Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    return PlaceInBand(shot, layout.Left, layout.Top, monitors, band);
}

} // namespace glimmerly::platform::wayland
