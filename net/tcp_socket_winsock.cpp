// TcpSocket and CancelSignal on Windows Sockets 2. Every socket is non-blocking and has an event
// for its network events; a wait sleeps on that event and the cancel event together. Whether the
// socket is ready is always asked with select(), which tells the state as it is now: the network
// events only wake the wait, so a stale or missed one costs a round, never a wrong answer.
// The error numbers are WSAGetLastError()'s own, which are the numbers SocketError speaks.
#include "net/tcp_socket.h"

#include "net/host_lookup.h"
#include "net/http_errors.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace glimmerly::net {

namespace {

// Windows Sockets is started once per process and left running until the process ends.
void StartWinsock() {
    static const int failure = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (failure != 0) {
        throw SocketError(failure);
    }
}

SOCKET Handle(NativeSocket s) {
    return static_cast<SOCKET>(s);
}

} // namespace

CancelSignal::CancelSignal() {
    StartWinsock();
    event_ = ::WSACreateEvent(); // manual reset: once set, it stays set
    if (event_ == WSA_INVALID_EVENT) {
        throw SocketError(::WSAGetLastError());
    }
}

CancelSignal::~CancelSignal() {
    ::WSACloseEvent(event_);
}

void CancelSignal::Fire() {
    fired_.store(true, std::memory_order_release);
    ::WSASetEvent(event_);
}

void TcpSocket::Fail(int wsaError) {
    Close();
    throw SocketError(wsaError);
}

WaitResult TcpSocket::Wait(Await what, int timeoutMs) {
    const SOCKET s = Handle(socket_);
    const long events = what == Await::Read    ? FD_READ | FD_CLOSE
                        : what == Await::Write ? FD_WRITE | FD_CLOSE
                                               : FD_CONNECT | FD_CLOSE;
    // Armed before the first look, so that whatever happens after that look sets the event.
    if (::WSAEventSelect(s, event_, events) != 0) {
        Fail(::WSAGetLastError());
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (cancel_.Fired()) {
            Close();
            throw SocketError(kCancelled);
        }
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(s, &ready);
        fd_set failed; // a connect that failed shows here, not among the writable
        FD_ZERO(&failed);
        FD_SET(s, &failed);
        timeval now{0, 0};
        const int r = ::select(0, what == Await::Read ? &ready : nullptr,
                               what == Await::Read ? nullptr : &ready,
                               what == Await::Connect ? &failed : nullptr, &now);
        if (r == SOCKET_ERROR) {
            Fail(::WSAGetLastError());
        }
        if (r > 0) {
            return WaitResult::Ready; // errors and hang-ups show up in the call that follows
        }
        DWORD wait = WSA_INFINITE;
        if (timeoutMs > 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return WaitResult::TimedOut;
            }
            wait = DWORD(left);
        }
        // The cancel event first: when both are set, the cancel wins.
        WSAEVENT both[2] = {cancel_.event_, event_};
        const DWORD woke = ::WSAWaitForMultipleEvents(2, both, FALSE, wait, FALSE);
        if (woke == WSA_WAIT_FAILED) {
            Fail(::WSAGetLastError());
        }
        if (woke == WSA_WAIT_EVENT_0 + 1) {
            WSANETWORKEVENTS seen;
            ::WSAEnumNetworkEvents(s, event_, &seen); // resets the event for the next round
        }
    }
}

void TcpSocket::Connect(const std::string& host, int port, int timeoutMs) {
    Close();
    if (cancel_.Fired()) {
        throw SocketError(kCancelled);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = LookUpIPv4(host);

    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        throw SocketError(::WSAGetLastError());
    }
    Adopt(s);
    const BOOL nodelay = FALSE; // keep Nagle's algorithm
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay),
                 sizeof nodelay);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return;
    }
    const int started = ::WSAGetLastError();
    if (started != WSAEWOULDBLOCK) {
        Fail(started);
    }
    if (Wait(Await::Connect, timeoutMs) == WaitResult::TimedOut) {
        Close();
        throw SocketError(10060);
    }
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        Fail(::WSAGetLastError());
    }
    if (error != 0) {
        Fail(error);
    }
}

void TcpSocket::Adopt(NativeSocket socket) {
    Close();
    socket_ = socket;
    event_ = ::WSACreateEvent();
    if (event_ == WSA_INVALID_EVENT) {
        event_ = nullptr;
        Fail(::WSAGetLastError());
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(Handle(socket_), FIONBIO, &nonBlocking) != 0) {
        Fail(::WSAGetLastError());
    }
}

std::optional<std::size_t> TcpSocket::TrySend(const char* data, std::size_t n, bool) {
    const int sent = ::send(Handle(socket_), data, int(std::min<std::size_t>(n, INT_MAX)), 0);
    if (sent != SOCKET_ERROR) {
        return std::size_t(sent);
    }
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        Fail(error);
    }
    return std::nullopt;
}

std::optional<std::size_t> TcpSocket::TryReceive(char* data, std::size_t n) {
    const int got = ::recv(Handle(socket_), data, int(std::min<std::size_t>(n, INT_MAX)), 0);
    if (got != SOCKET_ERROR) {
        return std::size_t(got);
    }
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        Fail(error);
    }
    return std::nullopt;
}

void TcpSocket::Close() {
    if (IsOpen()) {
        ::shutdown(Handle(socket_), SD_SEND);
        ::closesocket(Handle(socket_));
        socket_ = kNoSocket;
    }
    if (event_ != nullptr) {
        ::WSACloseEvent(event_);
        event_ = nullptr;
    }
}

} // namespace glimmerly::net
