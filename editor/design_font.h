#pragma once
// The windows' font: "MS Sans Serif" at its Windows pixel sizes. Where that font does not exist,
// the fall-backs have similar shapes (fontconfig on its own would pick a much wider face), set a
// little closer so that their lines are as long as MS Sans Serif's.

#include <QFont>
#include <QFontInfo>
#include <QStringList>

namespace glimmerly {

// Liberation Sans (Arial's widths) runs about 5 % wider than MS Sans Serif: "Screenshot-Name:"
// takes 92 pixels at height 11 against 88. At 95 % spacing captions fit their boxes and the
// fixed explanations wrap into as many lines as with MS Sans Serif.
inline constexpr int kFallBackLetterSpacing = 95;

// Needs the application object (the font database) to exist.
inline QFont DesignFont(int pixelSize, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    if (QFontInfo(font).family() != QLatin1String("MS Sans Serif"))
        font.setLetterSpacing(QFont::PercentageSpacing, kFallBackLetterSpacing);
    return font;
}

} // namespace glimmerly
