// The parts of TcpSocket that are the same on every system.

#include "net/tcp_socket.h"

#include "net/http_errors.h"

namespace glimmerly::net {

void TcpSocket::RequireOpen() const {
    if (!IsOpen())
        throw HttpError("Not Connected");
}

WaitResult TcpSocket::WaitReadable(int timeoutMs) {
    RequireOpen();
    return Wait(Await::Read, timeoutMs);
}

} // namespace glimmerly::net
