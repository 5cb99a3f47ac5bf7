#include "net/http_client.h"

#include "net/http_text.h"
#include "net/http_work_bracket.h"

#include <algorithm>

namespace glimmerly::net {

namespace {

int PortNumber(const ParsedUrl& url, int previous) {
    if (!url.port.empty()) {
        const auto port = ParseDecimal(url.port);
        if (!port || *port < 1 || *port > 65535 || url.port.front() == '+' ||
            url.port.front() == '-') {
            throw HttpError("Invalid port: " + url.port);
        }
        return int(*port);
    }
    if (EqualsNoCase(url.protocol, "http")) {
        return 80;
    }
    if (EqualsNoCase(url.protocol, "https")) {
        return 443;
    }
    return previous;
}

void AddHeader(std::string& head, const char* name, const std::string& value) {
    if (value.empty()) {
        return;
    }
    for (const std::string& line : FoldHeaderLine(std::string(name) + ": " + value)) {
        head += line;
        head += "\r\n";
    }
}

} // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() {
    CloseConnection();
}

std::string HttpClient::Get(const std::string& url) {
    return Exchange("GET", url, nullptr);
}

std::string HttpClient::Post(const std::string& url, MultipartBody& body) {
    requestContentType_ = body.ContentTypeValue();
    CloseConnection();
    const bool wasHttp10 = http10_;
    http10_ = true;
    std::string result = Exchange("POST", url, &body);
    // Only a successful exchange gives the version back.
    http10_ = wasHttp10;
    return result;
}

void HttpClient::Disconnect() {
    CloseConnection();
}

void HttpClient::CloseConnection() {
    socket_.Close();
    inbuf_.clear();
    inpos_ = 0;
    peerClosed_ = false;
}

bool HttpClient::KeepAlive() const {
    if (!Connected()) {
        return false;
    }
    const std::string connection = AsciiUpper(Trim(responseConnection_));
    const std::string proxy = AsciiUpper(Trim(responseProxyConnection_));
    if (http10_) {
        return connection == "KEEP-ALIVE" || proxy == "KEEP-ALIVE";
    }
    return connection != "CLOSE" && proxy != "CLOSE";
}

void HttpClient::PrepareConnection(const std::string& host, int port) {
    if (!EqualsNoCase(host, connHost_) || port != connPort_) {
        CloseConnection();
        connHost_ = host;
        connPort_ = port;
    }
    if (!KeepAlive()) {
        CloseConnection();
    }
    if (Buffered() > 0) {
        // Bytes beyond the last response: the connection is out of step. Start afresh.
        CloseConnection();
    }
    if (socket_.IsOpen()) {
        // Has the server closed it meanwhile? Anything readable now is either its close or
        // bytes nobody asked for; either way the connection is not reused.
        try {
            if (socket_.WaitReadable(1) == WaitResult::Ready) {
                CloseConnection();
            }
        } catch (const SocketError& e) {
            if (e.number() == TcpSocket::kCancelled) {
                throw;
            }
            CloseConnection();
        }
    }
    if (!socket_.IsOpen()) {
        CloseConnection();
        if (connector_) {
            if (cancel_.Fired()) {
                throw SocketError(TcpSocket::kCancelled);
            }
            socket_.Adopt(connector_(host, port));
        } else {
            socket_.Connect(host, port, idleTimeoutMs_);
        }
    }
}

std::string HttpClient::Exchange(const char* method, const std::string& url, MultipartBody* body) {
    const ParsedUrl target = ParseUrl(url);
    const int port = PortNumber(target, lastPort_);
    lastPort_ = port;
    const std::string portText = target.port.empty() ? std::to_string(port) : target.port;
    const std::string hostHeader = portText == "80" ? target.host : target.host + ":" + portText;

    PrepareConnection(target.host, port);
    // The response record is filled afresh for this request.
    responseConnection_.clear();
    responseProxyConnection_.clear();

    try {
        if (http10_ && requestConnection_.empty()) {
            requestConnection_ = "keep-alive";
        }
        std::string head = std::string(method) + " " + target.Target() + " HTTP/" +
                           (http10_ ? "1.0" : "1.1") + "\r\n";
        AddHeader(head, "Connection", requestConnection_);
        AddHeader(head, "Content-Type", requestContentType_);
        if (body != nullptr) {
            AddHeader(head, "Content-Length", std::to_string(body->TotalSize()));
        }
        AddHeader(head, "Host", hostHeader);
        AddHeader(head, "Accept", kAccept);
        AddHeader(head, "User-Agent", kUserAgent);
        AddHeader(head, "Cookie", cookies_.CookieHeader(target.host, target.path));
        head += "\r\n";
        WriteRequest(head, body);

        std::string statusLine;
        std::vector<std::string> lines;
        int code;
        do {
            statusLine = ReadLine();
            lines = ReadHeaderBlock();
            cookies_.Store(lines, target.host, target.path);
            code = StatusCode(statusLine);
        } while (code == 100);

        const auto headers = ParseHeaderLines(lines);
        responseConnection_ = HeaderValue(headers, "Connection");
        responseProxyConnection_ = HeaderValue(headers, "Proxy-Connection");
        const std::string location = HeaderValue(headers, "Location");
        const std::string transferEncoding = HeaderValue(headers, "Transfer-Encoding");
        const auto length = ParseDecimal(Trim(HeaderValue(headers, "Content-Length")));
        const std::int64_t contentLength = length && *length >= 0 ? *length : -1;

        if (code >= 200 && code <= 299 && location.empty()) {
            if (!Connected()) {
                throw HttpError("Undefined situation");
            }
            std::string result;
            if (code != 204) {
                result = ReadBody(contentLength, transferEncoding, BodyEnd::MustBeWhole);
            }
            if (!KeepAlive()) {
                CloseConnection();
            }
            return result;
        }

        std::string errorBody;
        const int savedTimeout = readTimeoutMs_;
        readTimeoutMs_ = kErrorBodyTimeoutMs;
        try {
            errorBody = ReadBody(contentLength, transferEncoding, BodyEnd::MayBeCut);
        } catch (...) {
            readTimeoutMs_ = savedTimeout;
            throw;
        }
        readTimeoutMs_ = savedTimeout;
        throw HttpStatusError(code, statusLine, std::move(errorBody));
    } catch (const HttpStatusError&) {
        // The whole answer has been read: the connection may serve the next request.
        if (!KeepAlive()) {
            CloseConnection();
        }
        throw;
    } catch (...) {
        // Anything else leaves the connection at an unknown point of the exchange.
        CloseConnection();
        throw;
    }
}

void HttpClient::SendAll(const char* data, std::size_t n, bool more) {
    while (n > 0) {
        const std::size_t sent = socket_.SendSome(data, n, idleTimeoutMs_, more);
        data += sent;
        n -= sent;
    }
}

void HttpClient::WriteRequest(const std::string& head, MultipartBody* body) {
    // Every piece but the last goes with MSG_MORE, so the kernel pushes the request in larger
    // bursts. Sent piece by piece, a server on another CPU was woken for every 32 KiB piece and
    // loopback uploads ran at two speeds, depending on where the scheduler put the two ends.
    const std::int64_t total = body == nullptr ? 0 : body->TotalSize();
    SendAll(head.data(), head.size(), total > 0);
    if (body == nullptr) {
        return;
    }
    WorkBracket bracket(*this, 1, total);
    body->Seek(0, 0);
    std::string piece(kBufferSize, '\0');
    std::int64_t remaining = total;
    while (remaining > 0) {
        const std::size_t want = std::size_t(std::min<std::int64_t>(remaining, kBufferSize));
        const std::size_t got = body->Read(piece.data(), want);
        if (got == 0) {
            throw HttpError("No data to read.");
        }
        std::size_t offset = 0;
        while (offset < got) {
            if (cancel_.Fired()) {
                socket_.Close();
                throw SocketError(TcpSocket::kCancelled);
            }
            const bool more = remaining > std::int64_t(got);
            const std::size_t sent =
                socket_.SendSome(piece.data() + offset, got - offset, idleTimeoutMs_, more);
            offset += sent;
            Work(1, std::int64_t(sent));
        }
        remaining -= std::int64_t(got);
    }
}

void HttpClient::WorkBegin(int mode, std::int64_t max) {
    WorkLevel& w = work_[mode];
    if (++w.level == 1) {
        w.max = max;
        w.total = 0;
        if (OnWorkBegin) {
            OnWorkBegin(mode, max);
        }
    }
}

void HttpClient::Work(int mode, std::int64_t n) {
    WorkLevel& w = work_[mode];
    if (w.level >= 1) {
        w.total += n;
        if (OnWork) {
            OnWork(mode, w.total);
        }
    }
}

void HttpClient::WorkEnd(int mode) {
    WorkLevel& w = work_[mode];
    if (w.level == 1 && OnWorkEnd) {
        OnWorkEnd(mode);
    }
    if (w.level > 0) {
        --w.level;
    }
}

} // namespace glimmerly::net
