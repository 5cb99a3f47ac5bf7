#pragma once
// Whether an X server can be reached, asked before the toolkit starts (which would abort).

namespace glimmerly {

bool DisplayReachable();

// The German message for a start without a reachable display (ends with a newline).
const char* NoDisplayText();

} // namespace glimmerly
