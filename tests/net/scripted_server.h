#pragma once
// A loopback HTTP server for tests, inside the test process. It listens on 127.0.0.1 on a free
// port, takes one connection at a time and hands it to the test's script, which reads requests,
// answers with any bytes, closes at any point or stalls. Every request read is recorded byte for
// byte, with the number of the connection it came on.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace glimmerly::net::testing {

class ScriptedServer;

class ServerConnection {
public:
    ServerConnection(ScriptedServer& server, int fd, int index)
        : server_(server), fd_(fd), index_(index) {}
    int Index() const { return index_; }
    // One request: the head up to the empty line plus its Content-Length body. Empty when the
    // client closed (or the server stops) before a whole request came.
    std::string ReadRequest();
    // The head only; the body is left unread (for a server that stops reading).
    std::string ReadHead();
    void Send(std::string_view bytes);
    // Waits up to ms for the client to close; true when it did.
    bool WaitForClientClose(int ms);
    // Sleeps up to ms, less when the server is stopping.
    void Stall(int ms);
    void Close();

private:
    bool Fill();

    ScriptedServer& server_;
    int fd_;
    int index_;
    std::string buffer_;
};

class ScriptedServer {
public:
    using Script = std::function<void(ServerConnection&)>;
    // receiveBuffer > 0 makes the accepted sockets' receive buffer that small.
    explicit ScriptedServer(Script script, int receiveBuffer = 0);
    ~ScriptedServer();

    int Port() const { return port_; }
    std::string Url(const std::string& rest) const;
    std::vector<std::string> Requests() const;
    std::vector<int> RequestConnections() const;
    int Connections() const { return connections_; }
    bool Stopping() const { return stop_; }

    void Record(const std::string& request, int connection);

private:
    void Run();

    Script script_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<int> requestConnections_;
    std::thread thread_;
};

// Answers every request of a connection with the next of these responses (shared across
// connections, in order); closes the connection after a response that carries
// "Connection: close" or when they run out.
ScriptedServer::Script Answer(std::vector<std::string> responses);

// A port on 127.0.0.1 where nobody listens.
int UnusedPort();

} // namespace glimmerly::net::testing
