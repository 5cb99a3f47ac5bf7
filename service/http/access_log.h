#pragma once
// The access log: one line per request (when it ended, which instance and port answered it, the
// client's address, method, raw target, status, body bytes, milliseconds and, for a 500 or 503,
// why), as text or as JSON lines. Targets are raw Windows-1252 bytes sent by clients: both forms
// escape every byte that could break a line or its quoting.

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace glimmerly::service {

enum class LogFormat { Text, Json };

struct AccessRecord {
    std::chrono::system_clock::time_point time; // when the request ended
    std::string instance;
    std::string host;   // "service" or "upload"
    std::string client; // the client's address (from the PROXY header behind a balancer)
    std::string method;
    std::string target;                 // raw bytes as received
    unsigned status = 0;                // 0: no reply was sent
    std::optional<std::uint64_t> bytes; // body bytes; unknown for a live-update stream
    double ms = 0;                      // from the request line to the end
    std::string end;                    // how a request ended that was not answered in full
    std::string cause;                  // why it was answered with 500 or 503
};

// The line for a record, ending in "\n".
//
// Text: TIME INSTANCE HOST CLIENT "METHOD TARGET" STATUS BYTES MS [end=…] [cause="…"], with
// '"', '\' and bytes outside printable ASCII in the quoted parts written as \", \\ and \xHH;
// an unknown status or byte count is "-".
//
// JSON: an object with the keys time, instance, host, client, method, target, status, bytes, ms
// and, when there are, end and cause. Method and target stand with each byte as the character
// of that code (U+0000 to U+00FF, so the Windows-1252 byte 0xE4 reads "ä" and the exact bytes
// come back by encoding as Latin-1), written in ASCII with \u escapes; the cause is UTF-8 text.
// An unknown status or byte count is null.
std::string FormatAccessLine(const AccessRecord& record, LogFormat format);

// The text of an IPv4 or IPv6 address, empty for other kinds.
std::string AddressText(const sockaddr* address);

// Where the lines go: a file descriptor, one write per line, lines never interleaved.
class AccessLog {
public:
    // Writes to an open descriptor it does not own (stderr).
    AccessLog(int fd, LogFormat format);
    // Appends to a file, creating it. nullptr with error set when it cannot be opened.
    static std::unique_ptr<AccessLog> OpenFile(const std::string& path, LogFormat format,
                                               std::string& error);
    ~AccessLog();
    AccessLog(const AccessLog&) = delete;
    AccessLog& operator=(const AccessLog&) = delete;

    void Write(const AccessRecord& record);

private:
    int fd_;
    bool owned_ = false;
    LogFormat format_;
    std::mutex mutex_;
};

} // namespace glimmerly::service
