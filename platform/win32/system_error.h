#pragma once
// The system's own text for a Win32 error number, in the system's ANSI code page.

#include <string>

namespace glimmerly::platform::win32 {

// FormatMessageA's text for `error` without the trailing line break; "Fehler <n>" when the
// system has none.
std::string SystemErrorText(unsigned long error);

} // namespace glimmerly::platform::win32
