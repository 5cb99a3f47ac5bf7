// A tool of the drop test through wine's drag-and-drop bridge: a Qt window armed for dropped
// files that prints the paths of the first drop, one UTF-8 line each, and ends; it ends with 1
// when no drop has come within 60 seconds.

#include "platform/win32/win32_file_drops.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Glimmerly Ablage"));
    window.resize(300, 200);
    glimmerly::platform::win32::Win32FileDrops drops([&](const std::vector<std::string>& paths) {
        for (const std::string& path : paths)
            std::printf("%s\n", path.c_str());
        std::fflush(stdout);
        app.exit(0);
    });
    window.show();
    drops.Accept(static_cast<std::uintptr_t>(window.internalWinId()), true);
    std::printf("ready\n");
    std::fflush(stdout);
    QTimer::singleShot(60000, &app, [&] { app.exit(1); });
    return app.exec();
}
