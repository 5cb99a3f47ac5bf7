#pragma once
// The errors the HTTP transport raises. Every one carries its message text; callers show or
// compare that text, so the words are fixed.

#include <stdexcept>
#include <string>

namespace glimmerly::net {

// Plain transport failures: "Not Connected", "Max line length exceeded.", "Read Timeout",
// "Undefined situation", "No data to read.", "Unsupported operation.", "Header block too large.".
class HttpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A response whose status is not a success. what() is the status line exactly as received.
class HttpStatusError : public HttpError {
public:
    HttpStatusError(int code, const std::string& statusLine, std::string errorBody)
        : HttpError(statusLine), code_(code), errorBody_(std::move(errorBody)) {}
    int code() const { return code_; }
    const std::string& errorBody() const { return errorBody_; }

private:
    int code_;
    std::string errorBody_;
};

// A failed socket call, numbered as Windows Sockets numbers its errors.
// what() is "Socket Error # <number>\r\n<text>".
class SocketError : public HttpError {
public:
    explicit SocketError(int number);
    int number() const { return number_; }

private:
    int number_;
};

// The server closed the connection and nothing is left to read.
class ConnectionClosedError : public HttpError {
public:
    ConnectionClosedError() : HttpError("Connection Closed Gracefully.") {}
};

// The text of a socket error number; empty for numbers the table does not list.
const char* SocketErrorText(int number);

#ifndef _WIN32
// The socket error number for a POSIX errno value. Values without a counterpart come back
// unchanged (and then have an empty text). Windows gives these numbers itself.
int SocketErrorNumber(int errnoValue);
#endif

} // namespace glimmerly::net
