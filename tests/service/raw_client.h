#pragma once
// Raw socket steps for tests that send requests piece by piece: from a chosen loopback source
// address, in parts, and watching whether the service has closed the connection.

#include <cstdint>
#include <string>
#include <string_view>

namespace glimmerly::service::test {

// A connection to 127.0.0.1:port from the given loopback source address; -1 on failure.
int ConnectFrom(const char* source, std::uint16_t port);

bool SendAll(int fd, std::string_view data);

// The body of one response with a Content-Length; empty when the connection ends first.
// head, when given, receives the status line and headers.
std::string ReadReply(int fd, int timeoutMs = 5000, std::string* head = nullptr);

// True when the server has closed the connection (checked without waiting).
bool ClosedByServer(int fd);

// Waits up to timeoutMs for the server to close the connection; true when it did.
bool WaitForClose(int fd, int timeoutMs);

} // namespace glimmerly::service::test
