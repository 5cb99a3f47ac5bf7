#pragma once
// A raw client of a local (Unix) socket, for tests that talk to a server byte by byte.
#include <string>

namespace glimmerly::testing {

// A socket connected to `path`, or -1.
int ConnectRaw(const std::string& path);
// True while nothing came back on a client's socket: no answer, no end.
bool StillWaiting(int fd);

} // namespace glimmerly::testing
