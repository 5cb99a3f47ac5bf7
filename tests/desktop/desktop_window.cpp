// A window of another program for the desktop tests:
//   glimmerly_desktop_window --caption T --rect X,Y,W,H [--pattern] [--unmanaged]
// --pattern fills it with PatternAt(); --unmanaged places it exactly, past the window manager.
// Prints "ready <window id>" once the window has been painted, then runs until killed.

#include "tests/desktop/pattern.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

namespace {

class TestWindow : public QWidget {
public:
    explicit TestWindow(bool pattern) : pattern_(pattern) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (pattern_) {
            QImage image(width(), height(), QImage::Format_RGB32);
            for (int y = 0; y < height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = 0; x < width(); ++x) {
                    const auto c = glimmerly::desktop_test::PatternAt(x, y);
                    line[x] = qRgb(c.red, c.green, c.blue);
                }
            }
            painter.drawImage(0, 0, image);
        } else {
            painter.fillRect(rect(), QColor(240, 240, 240));
        }
        if (!announced_) {
            announced_ = true;
            // After this paint has reached the server.
            QTimer::singleShot(50, this, [this] {
                std::printf("ready %llu\n", static_cast<unsigned long long>(winId()));
                std::fflush(stdout);
            });
        }
    }

private:
    bool pattern_;
    bool announced_ = false;
};

} // namespace

int main(int argc, char** argv) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QString title = "Testfenster";
    QList<int> geometry{100, 100, 300, 200};
    bool pattern = false;
    bool unmanaged = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--caption" && i + 1 < args.size()) {
            title = args[++i];
        } else if (args[i] == "--rect" && i + 1 < args.size()) {
            geometry.clear();
            for (const QString& part : args[++i].split(',')) {
                geometry.push_back(part.toInt());
            }
        } else if (args[i] == "--pattern") {
            pattern = true;
        } else if (args[i] == "--unmanaged") {
            unmanaged = true;
        }
    }
    if (geometry.size() != 4) {
        std::fprintf(stderr, "--rect X,Y,W,H\n");
        return 2;
    }
    TestWindow window(pattern);
    if (unmanaged) {
        window.setWindowFlags(Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
    }
    window.setWindowTitle(title);
    window.setGeometry(geometry[0], geometry[1], geometry[2], geometry[3]);
    window.show();
    window.activateWindow();
    return app.exec();
}
