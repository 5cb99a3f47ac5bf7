#pragma once
// A loopback HTTP server inside the test process. It listens on 127.0.0.1 on a free port and
// hands every connection, on a thread of its own, to the test's script, which reads requests,
// answers with any bytes, stalls, or closes at any point. Every request read is recorded byte for
// byte, with the number of the connection it came on.
//
//   LoopbackServer server(Answer({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}));
//   LoopbackServer stub([](const RecordedRequest& r) { return LoopbackServer::Ok("ok|..."); });

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace glimmerly::testing {

// A socket: a descriptor on POSIX, a SOCKET on Windows.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif
inline constexpr SocketHandle kNoSocketHandle = SocketHandle(-1);

struct RecordedRequest {
    std::string head;   // request line and header lines, up to and including the empty line
    std::string body;   // the Content-Length bytes after the head
    int connection = 0; // 0 for the first connection accepted, then 1, 2, …

    std::string Bytes() const { return head + body; }
    std::string RequestLine() const { return head.substr(0, head.find("\r\n")); }
    // The value of the first header of that name (any case), without leading blanks; empty when
    // there is none.
    std::string Header(std::string_view name) const;
};

class LoopbackServer;

class ServerConnection {
public:
    ServerConnection(LoopbackServer& server, SocketHandle fd, int index)
        : server_(server), fd_(fd), index_(index) {}
    int Index() const { return index_; }
    // One request: the head up to the empty line plus its Content-Length body, recorded with the
    // server. Empty when the client closed (or the server stops) before a whole request came.
    std::string ReadRequest() { return NextRequest().Bytes(); }
    // The same, taken apart; its head is empty when no whole request came.
    RecordedRequest NextRequest();
    // The head only; the body is left unread (for a server that stops reading).
    std::string ReadHead();
    void Send(std::string_view bytes);
    // Waits up to ms for the client to close; true when it did.
    bool WaitForClientClose(int ms);
    // Holds the connection up to ms (without a limit: until Release() or the server's end).
    void Stall(int ms = -1);
    // Ends sending, waits until the client has closed its side and then closes: the answer is
    // read whole even when the client has sent more.
    void CloseGently();
    void Close();
    // Closes with a reset (RST) instead of the orderly end.
    void Reset();

private:
    bool Fill();

    LoopbackServer& server_;
    SocketHandle fd_;
    int index_;
    std::string buffer_;
};

class LoopbackServer {
public:
    using Script = std::function<void(ServerConnection&)>;
    // Answers each request of a keep-alive connection with the bytes it returns. An empty answer
    // stalls: the connection stays open without one until Release() or the server's end. The
    // request is recorded before the handler runs, so a handler may hold its answer back while the
    // test looks on.
    using Handler = std::function<std::string(const RecordedRequest&)>;

    // receiveBuffer > 0 makes the accepted sockets' receive buffer that small.
    explicit LoopbackServer(Script script, int receiveBuffer = 0);
    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return port_; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& rest) const { return "http://" + Host() + rest; }

    std::vector<RecordedRequest> Requests() const;
    std::vector<std::string> RequestBytes() const;
    std::vector<int> RequestConnections() const;
    int Connections() const { return connections_; }
    // Waits until `count` requests have arrived; false on time-out.
    bool WaitForRequests(std::size_t count, int timeoutMs = 10000) const;
    // Ends every stall, now and later.
    void Release();
    bool Stopping() const { return stop_; }

    // A plain 200 response with an HTML body and Connection: close.
    static std::string Ok(const std::string& body);

private:
    friend class ServerConnection;
    void Accept();
    void Record(RecordedRequest request);
    // Waits up to ms (< 0: without a limit) for Release() or the server's end.
    void WaitForRelease(int ms);

    Script script_;
    SocketHandle listenFd_ = kNoSocketHandle;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool released_ = false;
    std::vector<RecordedRequest> requests_;
    std::set<SocketHandle> open_; // connections a script still holds, shut down at the server's end
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// Answers every request with the next of these responses (shared across connections, in order);
// closes the connection after a response that carries "Connection: close" or when they run out.
LoopbackServer::Script Answer(std::vector<std::string> responses);

// A port on 127.0.0.1 where nobody listens.
int UnusedPort();

// A blocking socket connected to 127.0.0.1:port (for clients handed a ready connection); the
// caller owns it.
SocketHandle ConnectToLoopback(int port);

} // namespace glimmerly::testing
