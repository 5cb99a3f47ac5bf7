#pragma once
// The program's one HTTP client: GET and POST of plain http:// URLs over one reusable TCP
// connection, with progress events and a cookie store. URLs go on the wire byte for byte; nothing
// is percent-encoded.
//
// One request at a time; only Cancel() may be called from another thread while a request runs.

#include "net/cookie_store.h"
#include "net/http_errors.h"
#include "net/multipart_body.h"
#include "net/tcp_socket.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace glimmerly::net {

class HttpClient {
public:
    // Longest status, header or chunk-size line, in bytes before the LF (a CR counted).
    static constexpr std::size_t kMaxLineLength = 16384;
    // Largest single socket read and largest piece of a body handed to the socket.
    static constexpr std::size_t kBufferSize = 32768;
    // A response header block beyond these fails with "Header block too large.".
    static constexpr std::size_t kMaxHeaderLines = 1000;
    static constexpr std::size_t kMaxHeaderBytes = 1 << 20;
    // Largest allocation made in advance for a body that announces its length.
    static constexpr std::int64_t kMaxPreallocation = 1 << 20;
    // How long the body of a failed response may keep us waiting for data.
    static constexpr int kErrorBodyTimeoutMs = 2000;

    static constexpr const char* kAccept = "text/html, */*";
    static constexpr const char* kUserAgent = "Doveviraza Zudavove";

    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // One GET; returns the body bytes unchanged (empty for 204).
    std::string Get(const std::string& url);
    // One POST of the body on a fresh connection, sent as HTTP/1.0. Should it fail, later requests
    // stay on HTTP/1.0. The caller keeps the body.
    std::string Post(const std::string& url, MultipartBody& body);
    // Closes the connection if one is open.
    void Disconnect();

    // Progress. mode 0: reading a response body, 1: writing a request body. Counts are running
    // totals since the matching begin.
    std::function<void(int mode, std::int64_t countMax)> OnWorkBegin;
    std::function<void(int mode, std::int64_t count)> OnWork;
    std::function<void(int mode)> OnWorkEnd;

    // 0 (the default): wait without limit. Otherwise a connect, send or receive that moves no byte
    // for this many ms fails the request: "Read Timeout" on receive, SocketError 10060 on
    // connect/send.
    void SetIdleTimeout(int milliseconds) { idleTimeoutMs_ = milliseconds < 0 ? 0 : milliseconds; }
    int IdleTimeout() const { return idleTimeoutMs_; }

    // Safe from any thread: a running request (or the next blocking wait) fails at once with
    // SocketError 10004 and its connection is closed. It stays in force for the client's life:
    // this is how the program gets out of an upload when it ends.
    void Cancel() { cancel_.Fire(); }

    // The client's cookies (for inspection, and for tests to set the store's clock).
    CookieStore& Cookies() { return cookies_; }

    // Replaces the TCP connect: given host and port, returns a connected stream socket that the
    // client then owns. For tests and fuzzing with sockets of their own.
    void SetConnector(std::function<NativeSocket(const std::string& host, int port)> connector) {
        connector_ = std::move(connector);
    }

private:
    struct WorkLevel {
        int level = 0;
        std::int64_t max = 0;
        std::int64_t total = 0;
    };
    class WorkBracket;

    std::string Exchange(const char* method, const std::string& url, MultipartBody* body);
    void PrepareConnection(const std::string& host, int port);
    void WriteRequest(const std::string& head, MultipartBody* body);
    void SendAll(const char* data, std::size_t n, bool more);
    // Whether a fixed-length body cut short by the server is an error (the answer of a success)
    // or what came is kept (the text of a failed status).
    enum class BodyEnd { MustBeWhole, MayBeCut };
    std::string ReadBody(std::int64_t contentLength, const std::string& transferEncoding,
                         BodyEnd end);
    void ReadFixed(std::string& out, std::int64_t length, BodyEnd end);
    void ReadChunked(std::string& out);
    void ReadUntilClose(std::string& out);
    // Takes up to `want` buffered bytes into out, as one work piece.
    std::size_t TakeBuffered(std::string& out, std::size_t want);

    std::string ReadLine();
    std::vector<std::string> ReadHeaderBlock();
    bool Fill();
    std::size_t Buffered() const { return inbuf_.size() - inpos_; }
    bool Connected() const { return socket_.IsOpen() || Buffered() > 0; }
    bool KeepAlive() const;
    void CloseConnection();

    void WorkBegin(int mode, std::int64_t max);
    void Work(int mode, std::int64_t n);
    void WorkEnd(int mode);

    CancelSignal cancel_;
    TcpSocket socket_{cancel_};
    std::function<NativeSocket(const std::string&, int)> connector_;
    int idleTimeoutMs_ = 0;
    int readTimeoutMs_ = 0; // while an error body is read

    // Receive buffer: bytes read from the socket and not yet taken.
    std::string inbuf_;
    std::size_t inpos_ = 0;
    bool peerClosed_ = false;

    // Carried from one request to the next.
    std::string connHost_;
    int connPort_ = 0;
    int lastPort_ = 80;
    bool http10_ = false;
    std::string requestConnection_;
    std::string requestContentType_;
    std::string responseConnection_;
    std::string responseProxyConnection_;

    WorkLevel work_[2];
    CookieStore cookies_;
};

} // namespace glimmerly::net
