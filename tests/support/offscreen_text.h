#pragma once
// Tests that measure drawn text on Qt's offscreen platform. On Windows that platform does not
// draw with the desktop's fonts (under wine captions come out nearly twice as wide as the
// windows platform draws them), so there these measures say nothing about the program and are
// skipped; the program's own windows are looked at under wine instead.

#include <gtest/gtest.h>

#ifdef _WIN32
#define GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE()                                                    \
    GTEST_SKIP() << "offscreen text on Windows is not drawn with the desktop's fonts"
#else
#define GLIMMERLY_SKIP_OFFSCREEN_TEXT_MEASURE() static_cast<void>(0)
#endif
