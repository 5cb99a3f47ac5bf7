#pragma once
// The Qt boundary of the Windows-1252 texts: QString ↔ Windows-1252 bytes.

#include <QString>
#include <string>
#include <string_view>

namespace glimmerly::cp1252 {

// Characters outside the code page become one '?' each (a surrogate pair counts as one).
std::string FromQString(const QString& text);
QString ToQString(std::string_view text);

} // namespace glimmerly::cp1252
