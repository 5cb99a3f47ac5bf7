#pragma once
// The focused window in the tree that sway's IPC sends (GET_TREE, JSON).

#include "imaging/picture.h"

#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::platform::wayland {

struct FocusedWindow {
    std::string title; // UTF-8, as sway gives it
    Rect outer;        // layout coordinates, title bar and borders included
};

// The focused window, tiled or floating, at any depth; nullopt when the focus is on no window
// (an empty workspace) or the text is no tree.
std::optional<FocusedWindow> FocusedWindowInTree(std::string_view json);

} // namespace glimmerly::platform::wayland
