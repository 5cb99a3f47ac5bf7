#pragma once
// Text rules of the HTTP client that need no connection: from URL to request target, status
// codes, header lines, header folding and cookie dates. Pure functions, shared by the client, the
// cookie store and the tests.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace glimmerly::net {

struct ParsedUrl {
    std::string protocol; // "http" when the URL names none
    std::string host;
    std::string port;     // as written in the URL; empty when it names none
    std::string path;     // "/" ... up to and including the last "/" before the query
    std::string document; // between path and query, fragment cut off
    std::string params;   // from the query start ("?" or "=") on, fragment cut off

    // path + document + params: what goes into the request line, byte for byte.
    std::string Target() const { return path + document + params; }
};

// Splits a URL the way the client does: backslashes become "/", the query starts at the first
// "?" (else at the first "="), a "#" cuts the fragment. Nothing is encoded or decoded.
ParsedUrl ParseUrl(std::string url);

// Trims bytes up to and including the space at both ends (every control byte and blank).
std::string_view Trim(std::string_view text);
// Upper-cases ASCII letters; other bytes stay as they are.
std::string AsciiUpper(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

// The code of a status line ("HTTP/1.1 200 OK" → 200); −1 when there is none.
int StatusCode(std::string_view statusLine);

// Decimal or hexadecimal numbers written plainly: digits only after an optional sign (decimal),
// no overflow. nullopt otherwise.
std::optional<std::int64_t> ParseDecimal(std::string_view text);
std::optional<std::int64_t> ParseHex(std::string_view text);

// Header lines as received → (name, value) in arrival order. Values are trimmed; a line that
// begins with a space or tab continues the previous value, joined by one space.
std::vector<std::pair<std::string, std::string>>
ParseHeaderLines(const std::vector<std::string>& lines);

// The first value of a header, looked up without regard to case; empty when absent.
std::string HeaderValue(const std::vector<std::pair<std::string, std::string>>& headers,
                        std::string_view name);

// A request header line longer than 1024 characters, broken after blanks, tabs or commas that
// lie outside double quotes. Continuation lines begin with one space. Shorter lines come back
// as they are.
std::vector<std::string> FoldHeaderLine(const std::string& line);

// Cookie dates: "Wdy, DD Mon YYYY HH:MM:SS GMT", the older "Wdy, DD-Mon-YY ..." and the
// asctime form. Read as UTC; nullopt when the text is not a date.
std::optional<std::time_t> ParseHttpDate(std::string_view text);
std::string FormatHttpDate(std::time_t when);

bool IsDottedQuad(std::string_view host);

} // namespace glimmerly::net
