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
// Tahoma, the fall-back on Windows without Microsoft Sans Serif (wine), is wider still: at 90 %
// one caption of the main window runs 2 pixels past its box, at 89 % all fit.
#ifdef _WIN32
inline constexpr int kFallBackLetterSpacing = 89;
#else
inline constexpr int kFallBackLetterSpacing = 95;
#endif

#ifdef _WIN32
// On Windows "MS Sans Serif" is a bitmap font, and Qt's matching takes its next larger size for
// these pixel sizes (a caption comes out a quarter wider); "Microsoft Sans Serif" is its outline
// twin with the same widths. Where that is missing (wine), Tahoma is the closest, set closer.
inline constexpr const char* kDesignFamily = "Microsoft Sans Serif";
inline QStringList DesignFallBacks() {
    return {QStringLiteral("Tahoma"), QStringLiteral("Arial")};
}
#else
inline constexpr const char* kDesignFamily = "MS Sans Serif";
inline QStringList DesignFallBacks() {
    return {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
            QStringLiteral("DejaVu Sans")};
}
#endif

// Needs the application object (the font database) to exist.
inline QFont DesignFont(int pixelSize, bool bold = false) {
    QFont font;
    font.setFamilies(QStringList{QLatin1String(kDesignFamily)} + DesignFallBacks());
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    if (QFontInfo(font).family() != QLatin1String(kDesignFamily))
        font.setLetterSpacing(QFont::PercentageSpacing, kFallBackLetterSpacing);
    return font;
}

} // namespace glimmerly
