#pragma once
// The files of one drop (WM_DROPFILES). Internal to platform/win32; no Qt.

#include <string>
#include <vector>

namespace glimmerly::platform::win32 {

// Every path of the drop handle `drop` (an HDROP, the message's wParam) in the order of the drop,
// as UTF-8. Each name's length is asked for first (DragQueryFileW), so no path is cut at
// MAX_PATH and a name outside the ANSI code page arrives whole. The handle stays the caller's to
// release (DragFinish).
std::vector<std::string> DroppedPaths(void* drop);

} // namespace glimmerly::platform::win32
