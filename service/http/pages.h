#pragma once
// The service's web pages (German, UTF-8) and the live-update pieces of the session page.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/storage/stored_picture.h"

namespace glimmerly::service {

// &, <, >, " and ' as character references.
std::string HtmlEscape(std::string_view text);
// A JSON string literal; "<", ">" and "&" are written as \u escapes so the text can never close
// a script element.
std::string JsonString(std::string_view utf8);

std::string HomePage(std::string_view version);
std::string DownloadPage(std::string_view version);
// The session page lists pictures newest first and follows /~NAME/events from lastSeq on.
std::string SessionPage(std::string_view session, const std::vector<StoredPicture>& pictures,
                        bool expired, std::int64_t lastSeq);
// A small page for errors such as "not found".
std::string MessagePage(std::string_view heading, std::string_view text);

// The script of the session page (served as /session.js).
std::string_view SessionScript();
std::string_view StyleSheet();

// One server-sent event announcing a new or renamed picture.
std::string PictureEvent(const StoredPicture& picture);

} // namespace glimmerly::service
