// The parts of TcpSocket that are the same on every system.

#include "net/tcp_socket.h"

#include "net/http_errors.h"

namespace glimmerly::net {

void TcpSocket::RequireOpen() const {
    if (!IsOpen())
        throw HttpError("Not Connected");
}

std::size_t TcpSocket::SendSome(const char* data, std::size_t n, int timeoutMs, bool more) {
    RequireOpen();
    while (true) {
        if (const std::optional<std::size_t> sent = TrySend(data, n, more)) {
            return *sent;
        }
        if (Wait(Await::Write, timeoutMs) == WaitResult::TimedOut) {
            Close();
            throw SocketError(10060);
        }
    }
}

std::size_t TcpSocket::ReceiveSome(char* data, std::size_t n) {
    RequireOpen();
    while (true) {
        if (const std::optional<std::size_t> got = TryReceive(data, n)) {
            return *got;
        }
        Wait(Await::Read, 0);
    }
}

WaitResult TcpSocket::WaitReadable(int timeoutMs) {
    RequireOpen();
    return Wait(Await::Read, timeoutMs);
}

} // namespace glimmerly::net
