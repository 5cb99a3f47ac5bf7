#pragma once
// The file a desktop portal hands back with a screenshot. Some portal backends write every shot
// to one fixed, world-readable file name, so the picture must not stay there: it is read at once
// and deleted in any case. No Qt.

#include <cstddef>
#include <optional>
#include <string>

namespace glimmerly::platform::wayland {

// Largest portal file read (a PNG of several 8K outputs stays far below).
inline constexpr std::size_t kMaxPortalFile = std::size_t{1} << 30;

// The file's bytes; nullopt when it is no regular file (symbolic links are not followed), larger
// than `maxBytes` or cannot be read. The file name is removed whatever the outcome.
std::optional<std::string> ReadAndDelete(const std::string& path,
                                         std::size_t maxBytes = kMaxPortalFile);

} // namespace glimmerly::platform::wayland
