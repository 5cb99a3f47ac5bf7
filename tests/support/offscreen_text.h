#pragma once
// Tests that measure drawn text on Qt's offscreen platform. On Windows that platform does not
// draw with the desktop's fonts (under wine captions come out nearly twice as wide as the
// windows platform draws them), so there these measures say nothing about the program and are
// skipped; the same tests run on a desktop under wine with the windows platform instead
// (ctest: windows_*_on_a_desktop).

#include <gtest/gtest.h>

#ifdef _WIN32
#include <QGuiApplication>
#define GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE()                                                    \
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))                             \
    GTEST_SKIP() << "offscreen text on Windows is not drawn with the desktop's fonts"
#else
#define GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE() static_cast<void>(0)
#endif
