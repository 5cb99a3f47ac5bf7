#pragma once
// Who is at the other end of a Unix socket, as the kernel says. No Qt.

namespace glimmerly::platform {

// True when the process at the other end of the connected Unix socket `fd` runs as this
// process's effective user.
bool PeerIsOwnUser(int fd);

} // namespace glimmerly::platform
