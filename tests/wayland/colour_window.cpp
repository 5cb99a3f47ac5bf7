// A plainly coloured window of another program for the Wayland desktop tests:
//   wayland_colour_window --title T --size WxH --colour RRGGBB
// Prints "ready" once it has been painted, then runs until killed.

#include <QApplication>
#include <QColor>
#include <QPainter>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class ColourWindow : public QWidget {
public:
    explicit ColourWindow(QColor colour) : colour_(colour) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), colour_);
        if (!announced_) {
            announced_ = true;
            QTimer::singleShot(50, this, [] {
                std::printf("ready\n");
                std::fflush(stdout);
            });
        }
    }

private:
    QColor colour_;
    bool announced_ = false;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "wayland");
    QApplication app(argc, argv);
    QString title = "Farbfenster";
    QSize size(400, 300);
    QColor colour(200, 40, 40);
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--title") {
            title = args[i + 1];
        } else if (args[i] == "--size") {
            const QStringList wh = args[i + 1].split('x');
            size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
        } else if (args[i] == "--colour") {
            colour = QColor("#" + args[i + 1]);
        }
    }
    ColourWindow window(colour);
    window.setWindowTitle(title);
    window.setFixedSize(size);
    window.show();
    return app.exec();
}
