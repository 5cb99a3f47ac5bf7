#include "qt_cp1252.h"

#include "cp1252.h"

#include <QList>

namespace glimmerly::cp1252 {

std::string FromQString(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    const QList<uint> codePoints = text.toUcs4();
    for (uint cp : codePoints)
        out += FromUnicode(static_cast<char32_t>(cp));
    return out;
}

QString ToQString(std::string_view text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char c : text)
        out += QChar(static_cast<char16_t>(ToUnicode(static_cast<unsigned char>(c))));
    return out;
}

} // namespace glimmerly::cp1252
