#include "net/http_text.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>

namespace glimmerly::net {

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsBreak(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

std::string TrimRight(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') {
        s.remove_suffix(1);
    }
    return std::string(s);
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') {
        s.remove_prefix(1);
    }
    return s;
}

// Where to break a line that is too long: just after the last break character outside quotes
// within the first `limit` bytes, else after the first one beyond; npos when there is none.
std::size_t SplitPoint(std::string_view line, std::size_t limit) {
    bool quoted = false;
    std::size_t best = std::string_view::npos;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && IsBreak(c)) {
            if (i + 1 <= limit || best == std::string_view::npos) {
                best = i + 1;
            }
            if (i + 1 >= limit) {
                break;
            }
        }
    }
    // A break at the very end leaves nothing to carry over.
    if (best != std::string_view::npos && TrimLeft(line.substr(best)).empty()) {
        return std::string_view::npos;
    }
    return best;
}

} // namespace

ParsedUrl ParseUrl(std::string url) {
    std::replace(url.begin(), url.end(), '\\', '/');
    ParsedUrl out;
    std::string rest;
    const std::size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        out.protocol = url.substr(0, scheme);
        rest = url.substr(scheme + 3);
        const std::size_t slash = rest.find('/');
        std::string authority = rest.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        const std::size_t at = authority.rfind('@');
        if (at != std::string::npos) {
            authority.erase(0, at + 1); // user name and password are never used
        }
        const std::size_t colon = authority.find(':');
        out.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            out.port = authority.substr(colon + 1);
        }
    } else {
        rest = url;
        if (!rest.empty() && rest.front() == '/') {
            rest.erase(0, 1);
        }
    }
    if (out.protocol.empty()) {
        out.protocol = "http";
    }

    std::size_t query = rest.find('?');
    if (query == std::string::npos) {
        query = rest.find('=');
    }
    if (query == std::string::npos) {
        query = rest.size();
    }
    const std::size_t lastSlash = rest.substr(0, query).rfind('/');
    const std::size_t docStart = lastSlash == std::string::npos ? 0 : lastSlash + 1;
    std::string path(1, '/');
    path.append(rest, 0, docStart);
    out.path = std::move(path);
    out.document = rest.substr(docStart, query - docStart);
    out.params = rest.substr(query);

    const std::size_t hashInDoc = out.document.find('#');
    if (hashInDoc != std::string::npos) {
        out.document.erase(hashInDoc);
    } else {
        const std::size_t hashInParams = out.params.find('#');
        if (hashInParams != std::string::npos) {
            out.params.erase(hashInParams);
        }
    }
    return out;
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') {
        s.remove_suffix(1);
    }
    return s;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = Upper(c);
    }
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) {
            return false;
        }
    }
    return true;
}

int StatusCode(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return -1;
    }
    std::string_view rest = Trim(line.substr(space + 1));
    rest = rest.substr(0, rest.find(' '));
    const auto code = ParseDecimal(rest);
    if (!code || *code < INT_MIN || *code > INT_MAX) {
        return -1;
    }
    return int(*code);
}

std::optional<std::int64_t> ParseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const std::uint64_t limit = negative ? std::uint64_t(INT64_MAX) + 1 : INT64_MAX;
    for (char c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        const unsigned d = unsigned(c - '0');
        if (value > (limit - d) / 10) {
            return std::nullopt;
        }
        value = value * 10 + d;
    }
    if (negative) {
        return value == std::uint64_t(INT64_MAX) + 1 ? INT64_MIN : -std::int64_t(value);
    }
    return std::int64_t(value);
}

std::optional<std::int64_t> ParseHex(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        unsigned d;
        if (IsDigit(c)) {
            d = unsigned(c - '0');
        } else if (Upper(c) >= 'A' && Upper(c) <= 'F') {
            d = unsigned(Upper(c) - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (value > (std::uint64_t(INT64_MAX) - d) / 16) {
            return std::nullopt;
        }
        value = value * 16 + d;
    }
    return std::int64_t(value);
}

std::vector<std::pair<std::string, std::string>>
ParseHeaderLines(const std::vector<std::string>& lines) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& line : lines) {
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            if (!out.empty()) {
                std::string& value = out.back().second;
                const std::string_view more = Trim(line);
                if (!more.empty()) {
                    if (!value.empty()) {
                        value += ' ';
                    }
                    value += more;
                }
            }
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            out.emplace_back(std::string(Trim(line)), std::string());
        } else {
            out.emplace_back(std::string(Trim(std::string_view(line).substr(0, colon))),
                             std::string(Trim(std::string_view(line).substr(colon + 1))));
        }
    }
    return out;
}

std::string HeaderValue(const std::vector<std::pair<std::string, std::string>>& headers,
                        std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) {
            return value;
        }
    }
    return {};
}

std::vector<std::string> FoldHeaderLine(const std::string& line) {
    constexpr std::size_t kLimit = 1024;
    std::vector<std::string> out;
    std::string rest = line;
    while (rest.size() > kLimit) {
        // A continuation line's own leading space is not a place to break.
        const std::size_t skip = out.empty() ? 0 : 1;
        std::size_t split = SplitPoint(std::string_view(rest).substr(skip), kLimit - skip);
        if (split == std::string_view::npos) {
            break;
        }
        split += skip;
        out.push_back(TrimRight(std::string_view(rest).substr(0, split)));
        std::string next(1, ' ');
        next += TrimLeft(std::string_view(rest).substr(split));
        rest = std::move(next);
    }
    out.push_back(rest);
    return out;
}

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
    int day = -1, month = -1, year = -1, hour = -1, minute = 0, second = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == ',' || text[i] == '-' || text[i] == '\t')) {
            ++i;
        }
        std::size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != ',' && text[end] != '-' &&
               text[end] != '\t') {
            ++end;
        }
        const std::string_view token = text.substr(i, end - i);
        i = end;
        if (token.empty()) {
            continue;
        }
        if (token.find(':') != std::string_view::npos) {
            if (hour >= 0) {
                continue;
            }
            int h = -1, m = -1, s = 0;
            const std::string t(token);
            char extra = 0;
            const int got = std::sscanf(t.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &extra);
            if (got < 2 || got > 3 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60) {
                return std::nullopt;
            }
            hour = h;
            minute = m;
            second = s;
        } else if (IsDigit(token.front())) {
            const auto n = ParseDecimal(token);
            if (!n) {
                continue;
            }
            if (day < 0 && token.size() <= 2) {
                day = int(*n);
            } else if (year < 0 && token.size() <= 4) {
                year = int(*n);
                if (token.size() <= 2) {
                    year += year < 70 ? 2000 : 1900;
                }
            }
        } else if (month < 0 && token.size() >= 3) {
            for (int m = 0; m < 12; ++m) {
                if (EqualsNoCase(token.substr(0, 3), kMonths[m])) {
                    month = m;
                    break;
                }
            }
        }
    }
    if (day < 1 || day > 31 || month < 0 || year < 1601 || year > 9999 || hour < 0) {
        return std::nullopt;
    }
    // Counted on the proleptic Gregorian calendar, the same on every system; a day past the
    // month's end runs on into the next month.
    using namespace std::chrono;
    const sys_days date =
        sys_days(std::chrono::year(year) / std::chrono::month(unsigned(month) + 1) / 1) +
        days(day - 1);
    return (date.time_since_epoch() + hours(hour) + minutes(minute) + seconds(second)) / seconds(1);
}

std::string FormatHttpDate(std::time_t when) {
    using namespace std::chrono;
    const sys_seconds at{seconds(when)};
    const sys_days date = floor<days>(at);
    const year_month_day ymd(date);
    const hh_mm_ss time(at - date);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                  kDays[weekday(date).c_encoding()], unsigned(ymd.day()),
                  kMonths[unsigned(ymd.month()) - 1], int(ymd.year()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

bool IsDottedQuad(std::string_view host) {
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t end = host.find('.', i);
        const std::string_view part =
            host.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
        if (part.empty() || part.size() > 3) {
            return false;
        }
        const auto n = ParseDecimal(part);
        if (!n || *n < 0 || *n > 255 || part.front() == '+' || part.front() == '-') {
            return false;
        }
        ++parts;
        if (end == std::string_view::npos) {
            break;
        }
        i = end + 1;
    }
    return parts == 4;
}

} // namespace glimmerly::net
