#pragma once
// Whether an X server or a Wayland compositor can be reached, asked before the toolkit starts
// (which would abort). With only a compositor there, the toolkit is told to use its Wayland
// platform.

namespace glimmerly {

bool DisplayReachable();

// The German message for a start without a reachable display (ends with a newline).
const char* NoDisplayText();

} // namespace glimmerly
