#pragma once
// The channel to the running copy of the program on the system being built for: a Unix socket
// in the private folder, or a named pipe of the user's session on Windows. Both have
// CaptureChannelPath(), CaptureChannelServer, CaptureRequest and SendCaptureRequest(); the
// server wakes an event loop through Fd() (POSIX) or Event() (Windows).

#ifdef _WIN32
#include "platform/win32/capture_channel.h"
#else
#include "platform/posix/capture_channel.h"
#endif
