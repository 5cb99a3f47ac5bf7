#pragma once
// Runs Qt's event loop for a while, as the program's would between a user's actions.

#include <QCoreApplication>
#include <QElapsedTimer>

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32::testing {

inline void Spin(int ms = 300) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ::Sleep(10);
    }
}

} // namespace glimmerly::platform::win32::testing
