// The reading half of HttpClient: the receive buffer, lines, the header block and the three
// ways a body ends (a length, chunks, the server closing).
#include "net/http_client.h"

#include "net/http_text.h"
#include "net/http_work_bracket.h"

#include <algorithm>

namespace glimmerly::net {

bool HttpClient::Fill() {
    if (!socket_.IsOpen()) {
        return false;
    }
    if (inpos_ == inbuf_.size()) {
        inbuf_.clear();
        inpos_ = 0;
    } else if (inpos_ >= kBufferSize) {
        inbuf_.erase(0, inpos_);
        inpos_ = 0;
    }
    const int timeout = readTimeoutMs_ > 0 ? readTimeoutMs_ : idleTimeoutMs_;
    if (socket_.WaitReadable(timeout) == WaitResult::TimedOut) {
        throw HttpError("Read Timeout");
    }
    const std::size_t old = inbuf_.size();
    inbuf_.resize(old + kBufferSize);
    std::size_t got = 0;
    try {
        got = socket_.ReceiveSome(inbuf_.data() + old, kBufferSize);
    } catch (const SocketError& e) {
        inbuf_.resize(old);
        // An aborted or shut-down connection ends the data when some is still waiting.
        if ((e.number() == 10053 || e.number() == 10058) && Buffered() > 0) {
            return false;
        }
        throw;
    }
    inbuf_.resize(old + got);
    if (got == 0) {
        peerClosed_ = true;
        socket_.Close();
        return false;
    }
    return true;
}

std::string HttpClient::ReadLine() {
    std::size_t scanned = 0; // bytes after inpos_ already known to hold no LF
    while (true) {
        const std::size_t lf = inbuf_.find('\n', inpos_ + scanned);
        if (lf != std::string::npos) {
            if (lf - inpos_ > kMaxLineLength) {
                throw HttpError("Max line length exceeded.");
            }
            std::string line = inbuf_.substr(inpos_, lf - inpos_);
            inpos_ = lf + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (Buffered() > kMaxLineLength) {
            throw HttpError("Max line length exceeded.");
        }
        scanned = Buffered();
        if (!Fill()) {
            if (peerClosed_) {
                throw ConnectionClosedError();
            }
            throw HttpError("Not Connected");
        }
    }
}

std::vector<std::string> HttpClient::ReadHeaderBlock() {
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    while (true) {
        std::string line;
        try {
            line = ReadLine();
        } catch (const ConnectionClosedError&) {
            // Cut short by the server: what arrived counts as the headers.
            CloseConnection();
            break;
        }
        if (line.empty()) {
            break;
        }
        bytes += line.size();
        if (lines.size() >= kMaxHeaderLines || bytes > kMaxHeaderBytes) {
            throw HttpError("Header block too large.");
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string HttpClient::ReadBody(std::int64_t contentLength, const std::string& transferEncoding,
                                 BodyEnd end) {
    std::string out;
    if (contentLength >= 1) {
        ReadFixed(out, contentLength, end);
    } else if (transferEncoding.find("chunked") != std::string::npos) {
        ReadChunked(out);
    } else if (contentLength == 0) {
        // Nothing to read.
    } else {
        ReadUntilClose(out);
    }
    return out;
}

std::size_t HttpClient::TakeBuffered(std::string& out, std::size_t want) {
    const std::size_t take = std::min({Buffered(), want, kBufferSize});
    out.append(inbuf_, inpos_, take);
    inpos_ += take;
    Work(0, std::int64_t(take));
    return take;
}

void HttpClient::ReadFixed(std::string& out, std::int64_t length, BodyEnd end) {
    WorkBracket bracket(*this, 0, length);
    // The length is the server's word; memory is only committed as bytes actually arrive.
    out.reserve(std::size_t(std::min(length, kMaxPreallocation)));
    std::int64_t remaining = length;
    while (remaining > 0) {
        if (Buffered() == 0 && !Fill()) {
            // Closed early. A cut answer is never passed off as a whole one (an upload address
            // missing its tail would be shown as a success); the text of a failed status is
            // shown with what came.
            if (end == BodyEnd::MustBeWhole) {
                throw ConnectionClosedError();
            }
            break;
        }
        remaining -= std::int64_t(
            TakeBuffered(out, std::size_t(std::min<std::int64_t>(remaining, kBufferSize))));
    }
}

void HttpClient::ReadChunked(std::string& out) {
    while (true) {
        const std::string line = ReadLine();
        // The size ends at a blank or at the ";" of a chunk extension, which is ignored.
        const std::int64_t size = ParseHex(line.substr(0, line.find_first_of(" ;"))).value_or(0);
        if (size <= 0) {
            break;
        }
        {
            WorkBracket bracket(*this, 0, size);
            std::int64_t remaining = size;
            while (remaining > 0) {
                if (Buffered() == 0 && !Fill()) {
                    if (peerClosed_) {
                        throw ConnectionClosedError();
                    }
                    throw HttpError("Not Connected");
                }
                remaining -= std::int64_t(
                    TakeBuffered(out, std::size_t(std::min<std::int64_t>(remaining, kBufferSize))));
            }
        }
        ReadLine(); // the line end after the chunk's data
    }
    // The line after the last chunk. A server that closes instead has still sent everything.
    try {
        ReadLine();
    } catch (const ConnectionClosedError&) {
    }
}

void HttpClient::ReadUntilClose(std::string& out) {
    WorkBracket bracket(*this, 0, 0);
    while (Buffered() > 0 || Fill()) {
        TakeBuffered(out, kBufferSize);
    }
}

} // namespace glimmerly::net
