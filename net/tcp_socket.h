#pragma once
// One TCP connection of the HTTP client. Every blocking step (connect, send, receive) waits on
// the socket and on a cancel signal at once, so that a cancel from another thread or an idle
// time-out ends it. Failures raise SocketError with Windows Sockets numbers.
//
// Two implementations behind this header: tcp_socket_posix.cpp (poll() and an eventfd; SIGPIPE is
// never raised) and tcp_socket_winsock.cpp (Windows Sockets 2: an event per socket and a cancel
// event waited for together; the error numbers are the system's own). What is the same on both,
// the waiting around one send() or recv() and the open check, is in tcp_socket.cpp.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace glimmerly::net {

// A socket as the system hands it out: a descriptor on POSIX, a SOCKET on Windows.
#ifdef _WIN32
using NativeSocket = std::uintptr_t;
#else
using NativeSocket = int;
#endif
inline constexpr NativeSocket kNoSocket = NativeSocket(-1);

// A one-way switch another thread can throw: once Fire() has run, every wait that watches it
// ends at once (and every later one too).
class CancelSignal {
public:
    CancelSignal();
    ~CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;
    void Fire(); // safe from any thread
    // No system call: asked before every piece of a request body.
    bool Fired() const { return fired_.load(std::memory_order_acquire); }

private:
    friend class TcpSocket;
#ifdef _WIN32
    void* event_; // manual-reset event, set for good by Fire()
#else
    int fd_; // eventfd, readable for good after Fire()
#endif
    std::atomic<bool> fired_{false};
};

// Outcome of a wait.
enum class WaitResult { Ready, TimedOut };

class TcpSocket {
public:
    // Number raised when the cancel signal ends a wait: "Interrupted system call.".
    static constexpr int kCancelled = 10004;

    explicit TcpSocket(const CancelSignal& cancel) : cancel_(cancel) {}
    ~TcpSocket() { Close(); }
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    bool IsOpen() const { return socket_ != kNoSocket; }

    // Resolves the host ("LOCALHOST" is 127.0.0.1, a dotted quad is used as it is, anything else
    // is looked up and its first IPv4 address taken) and connects. timeoutMs 0: no limit of our
    // own. Throws SocketError (11001 lookup, 10060 time-out, 10061 refused, ...).
    void Connect(const std::string& host, int port, int timeoutMs);
    // Takes over an already connected stream socket (tests and fuzzing hand in their own).
    void Adopt(NativeSocket socket);

    // Hands bytes to the socket; returns how many one send() accepted (at least 1). Throws
    // SocketError; 10060 when the socket takes nothing for timeoutMs (0: no limit). `more`: the
    // caller has further bytes of the same message at hand, so the kernel may hold these back
    // to fill whole segments (MSG_MORE where the system has it); the last piece goes without it
    // and pushes everything.
    std::size_t SendSome(const char* data, std::size_t n, int timeoutMs, bool more = false);
    // Reads up to n bytes; returns 0 when the peer has closed. Throws SocketError.
    std::size_t ReceiveSome(char* data, std::size_t n);
    // Waits until data (or the peer's close) can be read. timeoutMs 0: no limit.
    WaitResult WaitReadable(int timeoutMs);

    // Shuts down the sending direction, then closes. Nothing when already closed.
    void Close();

private:
    enum class Await { Read, Write, Connect };
    // Waits until the socket is ready for `what`; the cancel signal closes the socket and raises
    // SocketError(kCancelled).
    WaitResult Wait(Await what, int timeoutMs);
    // One send() or recv() that does not wait (an interrupted call is made again): the bytes
    // moved, nullopt when the socket is not ready for it. Other errors close and throw (Fail).
    std::optional<std::size_t> TrySend(const char* data, std::size_t n, bool more);
    std::optional<std::size_t> TryReceive(char* data, std::size_t n);
    // Closes and raises the SocketError for a system error value (errno or WSAGetLastError()).
    // Throws "Not Connected" unless a socket is open.
    void RequireOpen() const;
    [[noreturn]] void Fail(int systemError);

    const CancelSignal& cancel_;
    NativeSocket socket_ = kNoSocket;
#ifdef _WIN32
    void* event_ = nullptr; // the socket's network events
#endif
};

} // namespace glimmerly::net
