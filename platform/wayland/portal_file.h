#pragma once
// The file a desktop portal hands back with a screenshot. Some portal backends write every shot
// to one fixed, world-readable file name, so the picture must not stay there: it is read at once
// and removed. But the answer only names a path, and whoever answers in the portal's name could
// name any file of the user: only a file that is plainly the one just written for us is read and
// removed, any other is left alone. No Qt.

#include "platform/posix/safe_open.h"

#include <cstddef>
#include <ctime>
#include <string>

namespace glimmerly::platform::wayland {

// Largest portal file read (a PNG of several 8K outputs stays far below).
inline constexpr std::size_t kMaxPortalFile = std::size_t{1} << 30;

// The picture file of the portal's answer with the code `response` (0: success), for a request
// sent at `requested` (CLOCK_REALTIME). On any other code nothing is touched, whatever file the
// answer names. Otherwise `path` is read and removed when it is a fresh regular file of our own
// with no other name, reached without links or ".." (TakeFreshOwnFile); the refusal is a German
// text (UTF-8) naming what was wrong.
FileRead TakeAnswerFile(unsigned response, const std::string& path, const timespec& requested,
                        std::size_t maxBytes = kMaxPortalFile);

} // namespace glimmerly::platform::wayland
