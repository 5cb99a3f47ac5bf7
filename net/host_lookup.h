#pragma once
// Host name to IPv4 address, the same on every system.

#include <cstdint>
#include <string>

namespace glimmerly::net {

// "LOCALHOST" (any case) is 127.0.0.1, a dotted quad is taken as it is, any other name is looked
// up and its first IPv4 address used. In network byte order. Throws SocketError(11001) when
// there is no address. On Windows, Windows Sockets must have been started (a CancelSignal does).
std::uint32_t LookUpIPv4(const std::string& host);

} // namespace glimmerly::net
