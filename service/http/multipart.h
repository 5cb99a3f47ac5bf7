#pragma once
// Reading multipart/form-data request bodies (the upload). Parts refer into the body buffer.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerly::service {

struct FormPart {
    std::string name;
    std::optional<std::string> filename; // present for file parts (raw bytes, may be a full path)
    std::string contentType;
    std::string_view data;
};

// The boundary of a "multipart/form-data; boundary=..." Content-Type value, quoted or not;
// nullopt for another type or a missing/oversized boundary.
std::optional<std::string> MultipartBoundary(std::string_view contentType);

// Splits a body into its parts. Returns nullopt for a malformed body: no opening delimiter, a
// part without header block end, a part head without form-data name, or no closing delimiter.
std::optional<std::vector<FormPart>> ParseMultipart(std::string_view body,
                                                    std::string_view boundary);

// The first part of the given field name, or nullptr.
const FormPart* FindPart(const std::vector<FormPart>& parts, std::string_view name);

} // namespace glimmerly::service
