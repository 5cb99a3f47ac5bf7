#pragma once
// Request targets as they arrive on the wire. The desktop client puts typed text into query
// strings raw (blanks, "&", "=", "+" and single Windows-1252 bytes), so nothing here
// percent-decodes or turns "+" into a blank: values are the bytes between the delimiters.

#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::service {

struct Target {
    std::string path;  // up to the first "?"
    std::string query; // after the first "?" (empty when there is none)
};

Target SplitTarget(std::string_view raw);

// The raw value of the first "key=" field of a query; fields are separated by "&".
std::optional<std::string> QueryValue(std::string_view query, std::string_view key);

// s without the blanks and tabs at both ends (header values and their items).
std::string_view TrimBlanks(std::string_view s);

struct RenameQuery {
    std::string filename;    // current last address segment, e.g. "abc.jpg"
    std::string newFilename; // the typed name, raw
};

// "filename=F&newfilename=N": F ends at the first "&newfilename=" and N is everything after it,
// so a typed name that contains "&" or "=" survives. Other layouts fall back to plain field
// parsing. Missing fields give nullopt.
std::optional<RenameQuery> ParseRenameQuery(std::string_view query);

} // namespace glimmerly::service
