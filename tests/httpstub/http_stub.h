#pragma once
// A loopback HTTP server for tests: it records each request's exact bytes and answers with
// whatever the test's handler returns, or stalls until released.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace glimmerly::testing {

struct StubRequest {
    std::string head; // request line and header lines, up to and including the empty line
    std::string body; // Content-Length bytes
    std::string requestLine() const { return head.substr(0, head.find("\r\n")); }
    std::string header(const std::string& name) const;
};

class HttpStub {
public:
    // The handler returns the raw response bytes; an empty string means "stall": the connection
    // stays open without an answer until Release() or the stub's end. A request is recorded
    // before its handler runs, so a handler may hold its answer back while the test looks on.
    using Handler = std::function<std::string(const StubRequest&)>;

    explicit HttpStub(Handler handler);
    ~HttpStub();
    HttpStub(const HttpStub&) = delete;
    HttpStub& operator=(const HttpStub&) = delete;

    int port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    std::vector<StubRequest> requests() const;
    // Waits until `count` requests have arrived; false on time-out.
    bool WaitForRequests(std::size_t count, int timeoutMs = 10000) const;
    void Release();

    // A plain 200 response with a body and Connection: close.
    static std::string Ok(const std::string& body);

private:
    void Serve();
    void Handle(int fd);

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    bool released_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<StubRequest> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

} // namespace glimmerly::testing
