#include "service/http/request.h"

namespace glimmerly::service {

Target SplitTarget(std::string_view raw) {
    Target t;
    std::size_t q = raw.find('?');
    if (q == std::string_view::npos) {
        t.path = std::string(raw);
    } else {
        t.path = std::string(raw.substr(0, q));
        t.query = std::string(raw.substr(q + 1));
    }
    return t;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

std::optional<std::string> QueryValue(std::string_view query, std::string_view key) {
    std::size_t pos = 0;
    while (pos <= query.size()) {
        std::size_t end = query.find('&', pos);
        if (end == std::string_view::npos) {
            end = query.size();
        }
        std::string_view field = query.substr(pos, end - pos);
        if (field.size() > key.size() && field.substr(0, key.size()) == key &&
            field[key.size()] == '=') {
            return std::string(field.substr(key.size() + 1));
        }
        if (field == key) {
            return std::string();
        }
        pos = end + 1;
    }
    return std::nullopt;
}

std::optional<RenameQuery> ParseRenameQuery(std::string_view query) {
    constexpr std::string_view kFirst = "filename=";
    constexpr std::string_view kSecond = "&newfilename=";
    if (query.substr(0, kFirst.size()) == kFirst) {
        std::size_t split = query.find(kSecond);
        if (split != std::string_view::npos) {
            return RenameQuery{std::string(query.substr(kFirst.size(), split - kFirst.size())),
                               std::string(query.substr(split + kSecond.size()))};
        }
    }
    auto f = QueryValue(query, "filename");
    auto n = QueryValue(query, "newfilename");
    if (!f || !n) {
        return std::nullopt;
    }
    return RenameQuery{*f, *n};
}

} // namespace glimmerly::service
