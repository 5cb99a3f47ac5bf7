#include "service/http/access_log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

namespace glimmerly::service {

namespace {

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%0*x", prefix, digits, value);
    out += text;
}

// Inside a quoted field of a text line: printable ASCII but '"' and '\' as it is.
std::string TextEscaped(std::string_view bytes) {
    std::string out;
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            AppendHex(out, "\\x", c, 2);
        } else {
            out += ch;
        }
    }
    return out;
}

// Length of the well-formed UTF-8 sequence at the start of s, 0 when there is none.
std::size_t Utf8Length(std::string_view s) {
    unsigned char c = static_cast<unsigned char>(s[0]);
    std::size_t n = c >= 0xF0 && c <= 0xF4   ? 4
                    : c >= 0xE0 && c <= 0xEF ? 3
                    : c >= 0xC2 && c <= 0xDF ? 2
                                             : 0;
    if (n == 0 || s.size() < n) {
        return 0;
    }
    unsigned code = c & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        unsigned char k = static_cast<unsigned char>(s[i]);
        if ((k & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (k & 0x3F);
    }
    bool overlong = (n == 3 && code < 0x800) || (n == 4 && code < 0x10000);
    bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return overlong || surrogate || code > 0x10FFFF ? 0 : n;
}

// A JSON string. With bytesAsCodes every byte is the character of its code; otherwise the text
// is UTF-8, whose well-formed sequences stay as they are (a stray byte counts as its code).
void AppendJsonString(std::string& out, std::string_view text, bool bytesAsCodes) {
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += text[i];
        } else if (c >= 0x20 && c < 0x7F) {
            out += text[i];
        } else if (std::size_t n = bytesAsCodes || c < 0x80 ? 0 : Utf8Length(text.substr(i))) {
            out.append(text.substr(i, n));
            i += n - 1;
        } else {
            AppendHex(out, "\\u", c, 4);
        }
    }
    out += '"';
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms.count() % 1000));
    return text;
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

} // namespace

std::string FormatAccessLine(const AccessRecord& r, LogFormat format) {
    std::string status = r.status ? std::to_string(r.status) : std::string();
    std::string bytes = r.bytes ? std::to_string(*r.bytes) : std::string();
    std::string out;
    if (format == LogFormat::Text) {
        out = IsoTime(r.time) + " " + TextEscaped(r.instance) + " " + r.host + " " +
              (r.client.empty() ? "-" : TextEscaped(r.client)) + " \"" + TextEscaped(r.method) +
              " " + TextEscaped(r.target) + "\" " + (status.empty() ? "-" : status) + " " +
              (bytes.empty() ? "-" : bytes) + " " + Milliseconds(r.ms) + "ms";
        if (!r.end.empty()) {
            out += " end=" + TextEscaped(r.end);
        }
        if (!r.cause.empty()) {
            out += " cause=\"" + TextEscaped(r.cause) + "\"";
        }
        return out + "\n";
    }
    auto field = [&](const char* key, std::string_view value, bool bytesAsCodes) {
        out += out.empty() ? "{\"" : ",\"";
        out += key;
        out += "\":";
        AppendJsonString(out, value, bytesAsCodes);
    };
    field("time", IsoTime(r.time), false);
    field("instance", r.instance, false);
    field("host", r.host, false);
    field("client", r.client, false);
    field("method", r.method, true);
    field("target", r.target, true);
    out += ",\"status\":" + (status.empty() ? "null" : status);
    out += ",\"bytes\":" + (bytes.empty() ? "null" : bytes);
    out += ",\"ms\":" + Milliseconds(r.ms);
    if (!r.end.empty()) {
        field("end", r.end, false);
    }
    if (!r.cause.empty()) {
        field("cause", r.cause, false);
    }
    return out + "}\n";
}

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address && address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                    sizeof text);
    } else if (address && address->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                    sizeof text);
    }
    return text;
}

AccessLog::AccessLog(int fd, LogFormat format) : fd_(fd), format_(format) {}

std::unique_ptr<AccessLog> AccessLog::OpenFile(const std::string& path, LogFormat format,
                                               std::string& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (fd < 0) {
        error = "cannot open the access log " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    auto log = std::make_unique<AccessLog>(fd, format);
    log->owned_ = true;
    return log;
}

AccessLog::~AccessLog() {
    if (owned_) {
        ::close(fd_);
    }
}

void AccessLog::Write(const AccessRecord& record) {
    std::string line = FormatAccessLine(record, format_);
    std::lock_guard lock(mutex_);
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // a full disk loses log lines, never requests
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

} // namespace glimmerly::service
