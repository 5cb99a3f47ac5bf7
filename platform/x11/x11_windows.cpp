#include "platform/x11/x11_parts.h"

#include "text/cp1252.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <cstring>

namespace glimmerly::platform::x11 {

namespace {

constexpr std::size_t kMaxTitle = 254;

std::string Latin1ToUtf8(const std::vector<std::uint8_t>& bytes) {
    std::string utf8;
    for (std::uint8_t b : bytes) {
        if (b == 0) {
            break;
        }
        if (b < 0x80) {
            utf8 += static_cast<char>(b);
        } else {
            utf8 += static_cast<char>(0xC0 | (b >> 6));
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return utf8;
}

} // namespace

// The window manager's check window, when a live window manager announces itself.
std::optional<xcb_window_t> X11Windows::WindowManagerCheck() {
    auto check = context_->Get(context_->root(), context_->Atom("_NET_SUPPORTING_WM_CHECK"));
    if (!check || check->type != XCB_ATOM_WINDOW || !check->Cardinal()) {
        return std::nullopt;
    }
    const xcb_window_t window = *check->Cardinal();
    if (!context_->WindowExists(window)) {
        return std::nullopt; // left behind by a window manager that has gone
    }
    return window;
}

// The root's child that contains `window` (the top-level or its frame).
xcb_window_t X11Windows::TopLevelOf(xcb_window_t window) {
    xcb_connection_t* c = context_->connection();
    for (int depth = 0; depth < 64; ++depth) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        if (tree == nullptr) {
            return XCB_WINDOW_NONE;
        }
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (parent == context_->root() || parent == XCB_WINDOW_NONE) {
            return window;
        }
        window = parent;
    }
    return XCB_WINDOW_NONE;
}

std::optional<xcb_window_t> X11Windows::ForegroundWindow() {
    xcb_connection_t* c = context_->connection();
    const xcb_window_t root = context_->root();
    const std::optional<xcb_window_t> check = WindowManagerCheck();
    if (check) {
        auto active = context_->Get(root, context_->Atom("_NET_ACTIVE_WINDOW"));
        if (!active || !active->Cardinal()) {
            return std::nullopt;
        }
        const xcb_window_t window = *active->Cardinal();
        // The value may be stale: a window that has gone is no foreground window.
        if (window == XCB_WINDOW_NONE || window == root || window == *check ||
            !context_->WindowExists(window)) {
            return std::nullopt;
        }
        return window;
    }

    // No window manager: the focus window a client has set, else the window under the pointer.
    xcb_window_t candidate = XCB_WINDOW_NONE;
    if (auto* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)) {
        if (focus->focus != XCB_WINDOW_NONE && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT &&
            focus->focus != root) {
            candidate = TopLevelOf(focus->focus);
        }
        std::free(focus);
    }
    if (candidate == XCB_WINDOW_NONE) {
        if (auto* pointer = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr)) {
            if (pointer->same_screen) {
                candidate = pointer->child;
            }
            std::free(pointer);
        }
    }
    if (candidate == XCB_WINDOW_NONE || candidate == root) {
        return std::nullopt;
    }
    return candidate;
}

std::string X11Windows::TitleOf(xcb_window_t window) {
    std::string title;
    auto name = context_->Get(window, context_->Atom("_NET_WM_NAME"));
    if (name && name->format == 8 && name->type == context_->Atom("UTF8_STRING")) {
        std::string utf8(name->bytes.begin(), name->bytes.end());
        utf8 = utf8.substr(0, utf8.find('\0'));
        title = cp1252::FromUtf8(utf8);
    } else if (auto legacy = context_->Get(window, XCB_ATOM_WM_NAME);
               legacy && legacy->format == 8) {
        title = cp1252::FromUtf8(Latin1ToUtf8(legacy->bytes));
    }
    if (title.size() > kMaxTitle) {
        title.resize(kMaxTitle);
    }
    return title;
}

std::optional<Rect> X11Windows::OuterRectOf(xcb_window_t window) {
    xcb_connection_t* c = context_->connection();
    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (geometry == nullptr) {
        return std::nullopt;
    }
    const int width = geometry->width;
    const int height = geometry->height;
    const int border = geometry->border_width;
    std::free(geometry);
    auto* origin = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, context_->root(), 0, 0), nullptr);
    if (origin == nullptr) {
        return std::nullopt;
    }
    // (0, 0) of the window is the corner inside its border.
    Rect outer{origin->dst_x - border, origin->dst_y - border, origin->dst_x + width + border,
               origin->dst_y + height + border};
    std::free(origin);
    auto extents = context_->Get(window, context_->Atom("_NET_FRAME_EXTENTS"));
    if (extents && extents->Cardinal(3)) {
        outer.Left -= static_cast<std::int32_t>(*extents->Cardinal(0));
        outer.Right += static_cast<std::int32_t>(*extents->Cardinal(1));
        outer.Top -= static_cast<std::int32_t>(*extents->Cardinal(2));
        outer.Bottom += static_cast<std::int32_t>(*extents->Cardinal(3));
    }
    return outer;
}

std::optional<WindowInfo> X11Windows::Foreground() {
    const std::optional<xcb_window_t> window = ForegroundWindow();
    if (!window) {
        return std::nullopt;
    }
    std::optional<Rect> outer = OuterRectOf(*window);
    if (!outer) {
        return std::nullopt; // gone while we looked
    }
    return WindowInfo{TitleOf(*window), *outer};
}

void X11Windows::BringToFront(std::uintptr_t nativeId) {
    bool shown = false;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->internalWinId() != 0 &&
            static_cast<std::uintptr_t>(widget->internalWinId()) == nativeId) {
            if (widget->isMinimized()) {
                widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
            }
            widget->show();
            widget->raise();
            widget->activateWindow();
            shown = true;
            break;
        }
    }
    if (!shown) {
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (static_cast<std::uintptr_t>(window->winId()) == nativeId) {
                if (window->windowStates() & Qt::WindowMinimized) {
                    window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
                }
                window->show();
                window->raise();
                window->requestActivate();
                break;
            }
        }
    }

    // Window managers with focus-stealing prevention may ignore Qt's request; ask again as a
    // pager would (source 1), with the time of the key press that started all this.
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(nativeId);
    event.type = context_->Atom("_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 1;
    event.data.data32[1] = context_->lastUserTime;
    event.data.data32[2] = XCB_WINDOW_NONE;
    xcb_send_event(context_->connection(), 0, context_->root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(context_->connection());
}

} // namespace glimmerly::platform::x11
