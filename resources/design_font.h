#pragma once
// The windows' font: "MS Sans Serif" at its Windows pixel sizes. Where that font does not exist,
// the fall-backs have similar widths, so captions stay inside their designed boxes (fontconfig on
// its own would pick a much wider face).

#include <QFont>
#include <QStringList>

namespace glimmerly {

inline QFont DesignFont(int pixelSize, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace glimmerly
