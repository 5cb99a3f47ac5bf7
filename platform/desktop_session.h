#pragma once
// What the program needs of the session it was started in, settled before the toolkit starts:
// the console, the desktop, the token that brings a window to the front, and the texts when one
// of them is missing. Each system's backend has its own: platform/linux_desktop_session.cpp
// (X11 or Wayland) and platform/win32/desktop_session.cpp.

#include <functional>
#include <string>

namespace glimmerly::platform {

// Lets the standard output and error reach the console the program was started from where the
// system gives a windowed program none by itself (Windows). Handles the starter passed (a pipe,
// a file) are kept.
void ConnectConsole();

// Whether a desktop can be reached: on Linux an X server or a Wayland compositor (with only a
// compositor there, the toolkit is told to use its Wayland platform); always on Windows.
bool DisplayReachable();

// The German message for a start without a reachable display (ends with a newline).
const char* NoDisplayText();

// The start of the message when the desktop's backend fails ("...: " and the reason follow).
const char* DesktopFailedText();

// The German message when the channel for --capture cannot be opened (ends with a newline).
const char* NoCaptureChannelText();

// The token that lets the running copy's window take the focus when it takes a request of this
// copy (Wayland: the launcher's, else one the compositor gives); empty where none is needed.
std::string ActivationToken();

// Runs `capture` with the token a request carried in effect ("" for none).
void WithActivationToken(const std::string& activationToken, const std::function<void()>& capture);

} // namespace glimmerly::platform
