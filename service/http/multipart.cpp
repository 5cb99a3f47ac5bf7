#include "service/http/multipart.h"

#include <algorithm>

#include "service/http/request.h"

namespace glimmerly::service {

namespace {

constexpr std::size_t kMaxPartHead = 8192;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

// Parameters after the first ";" of a header value: name=token or name="anything but a quote".
std::vector<std::pair<std::string, std::string>> Parameters(std::string_view value) {
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t pos = value.find(';');
    while (pos != std::string_view::npos && pos < value.size()) {
        ++pos; // skip ';'
        while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) {
            ++pos;
        }
        std::size_t eq = value.find_first_of("=;", pos);
        if (eq == std::string_view::npos || value[eq] == ';') {
            pos = eq;
            continue;
        }
        std::string key(TrimBlanks(value.substr(pos, eq - pos)));
        std::transform(key.begin(), key.end(), key.begin(), Lower);
        pos = eq + 1;
        std::string val;
        if (pos < value.size() && value[pos] == '"') {
            std::size_t close = value.find('"', pos + 1);
            if (close == std::string_view::npos) {
                val = std::string(value.substr(pos + 1));
                pos = std::string_view::npos;
            } else {
                val = std::string(value.substr(pos + 1, close - pos - 1));
                pos = value.find(';', close);
            }
        } else {
            std::size_t end = value.find(';', pos);
            val = std::string(
                TrimBlanks(value.substr(pos, end == std::string_view::npos ? end : end - pos)));
            pos = end;
        }
        out.emplace_back(std::move(key), std::move(val));
    }
    return out;
}

} // namespace

std::optional<std::string> MultipartBoundary(std::string_view contentType) {
    std::size_t semi = contentType.find(';');
    if (!EqualsNoCase(TrimBlanks(contentType.substr(0, semi)), "multipart/form-data") ||
        semi == std::string_view::npos) {
        return std::nullopt;
    }
    for (auto& [key, val] : Parameters(contentType)) {
        if (key == "boundary") {
            if (val.empty() || val.size() > 200) {
                return std::nullopt;
            }
            return val;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<FormPart>> ParseMultipart(std::string_view body,
                                                    std::string_view boundary) {
    if (boundary.empty()) {
        return std::nullopt;
    }
    const std::string open = "--" + std::string(boundary);
    const std::string next = "\r\n" + open;
    // The first delimiter stands at the very start or after a preamble line.
    std::size_t pos;
    if (body.substr(0, open.size()) == open) {
        pos = open.size();
    } else {
        std::size_t found = body.find(next);
        if (found == std::string_view::npos) {
            return std::nullopt;
        }
        pos = found + next.size();
    }
    std::vector<FormPart> parts;
    for (;;) {
        // After a delimiter: "--" closes the body, else optional blanks and CR LF open a part.
        if (body.substr(pos, 2) == "--") {
            return parts;
        }
        while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) {
            ++pos;
        }
        if (body.substr(pos, 2) != "\r\n") {
            return std::nullopt;
        }
        pos += 2;
        std::size_t headEnd = body.find("\r\n\r\n", pos);
        if (headEnd == std::string_view::npos || headEnd - pos > kMaxPartHead) {
            return std::nullopt;
        }
        FormPart part;
        bool named = false;
        std::string_view head = body.substr(pos, headEnd - pos);
        while (!head.empty()) {
            std::size_t eol = head.find("\r\n");
            std::string_view line = head.substr(0, eol);
            head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 2);
            std::size_t colon = line.find(':');
            if (colon == std::string_view::npos) {
                continue;
            }
            std::string_view key = TrimBlanks(line.substr(0, colon));
            std::string_view value = TrimBlanks(line.substr(colon + 1));
            if (EqualsNoCase(key, "Content-Disposition")) {
                if (!EqualsNoCase(TrimBlanks(value.substr(0, value.find(';'))), "form-data")) {
                    continue;
                }
                for (auto& [pkey, pval] : Parameters(value)) {
                    if (pkey == "name" && !named) {
                        part.name = pval;
                        named = true;
                    } else if (pkey == "filename" && !part.filename) {
                        part.filename = pval;
                    }
                }
            } else if (EqualsNoCase(key, "Content-Type")) {
                part.contentType = std::string(value);
            }
        }
        if (!named) {
            return std::nullopt;
        }
        std::size_t dataStart = headEnd + 4;
        std::size_t dataEnd = body.find(next, dataStart);
        if (dataEnd == std::string_view::npos) {
            return std::nullopt;
        }
        part.data = body.substr(dataStart, dataEnd - dataStart);
        parts.push_back(std::move(part));
        pos = dataEnd + next.size();
    }
}

const FormPart* FindPart(const std::vector<FormPart>& parts, std::string_view name) {
    for (const FormPart& p : parts) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

} // namespace glimmerly::service
