#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/sway_tree.h"
#include "platform/wayland/wayland_parts.h"
#include "text/cp1252.h"
#include "text/qt_cp1252.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QWidget>
#include <QWindow>

namespace glimmerly::platform::wayland {

namespace {
constexpr std::size_t kMaxTitle = 254;
}

std::optional<WindowInfo> WaylandWindows::Foreground() {
    if (swaySocket_.empty())
        return std::nullopt; // the compositor tells no client about other clients' windows
    const std::optional<std::string> tree = SwayQuery(swaySocket_, kSwayGetTree, {});
    if (!tree)
        return std::nullopt;
    const std::optional<FocusedWindow> focused = FocusedWindowInTree(*tree);
    if (!focused)
        return std::nullopt;
    std::string title = cp1252::FromUtf8(focused->title);
    if (title.size() > kMaxTitle)
        title.resize(kMaxTitle);
    return WindowInfo{std::move(title), focused->outer};
}

void WaylandWindows::BringToFront(std::uintptr_t nativeId) {
    // The compositor decides whether a client may take the focus; asking is all a client can do.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->internalWinId() == 0 ||
            static_cast<std::uintptr_t>(widget->internalWinId()) != nativeId)
            continue;
        if (widget->isMinimized())
            widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
        widget->show();
        widget->raise();
        widget->activateWindow();
        return;
    }
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (static_cast<std::uintptr_t>(window->winId()) != nativeId)
            continue;
        window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->requestActivate();
        return;
    }
}

void WaylandShell::Open(const std::string& address) {
    const QUrl url(cp1252::ToQString(address), QUrl::TolerantMode);
    if (url.isValid() && !url.isEmpty())
        QDesktopServices::openUrl(url);
}

} // namespace glimmerly::platform::wayland
