// A tool of the desktop drop test.
//   drag_source drag FILE          a small window; pressing the mouse in it drags FILE's URL
//   drag_source compare A B MEAN   exit 0 when the pictures A and B have one size and their
//                                  channels differ by at most MEAN on average
#include <QApplication>
#include <QDrag>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

class DragSource : public QWidget {
public:
    explicit DragSource(QString file) : file_(std::move(file)) {
        setWindowTitle("Glimmerly Ziehquelle");
        resize(200, 120);
    }

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(file_)});
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction done = drag->exec(Qt::CopyAction);
        std::printf("drag ended: %s\n", done == Qt::CopyAction ? "copied" : "refused");
        std::fflush(stdout);
    }

private:
    QString file_;
};

int Compare(const QString& a, const QString& b, double allowed) {
    const QImage first = QImage(a).convertToFormat(QImage::Format_RGB32);
    const QImage second = QImage(b).convertToFormat(QImage::Format_RGB32);
    if (first.isNull() || second.isNull() || first.size() != second.size()) {
        std::printf("sizes %dx%d and %dx%d\n", first.width(), first.height(), second.width(),
                    second.height());
        return 1;
    }
    double sum = 0;
    for (int y = 0; y < first.height(); ++y) {
        for (int x = 0; x < first.width(); ++x) {
            const QRgb p = first.pixel(x, y), q = second.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    const double mean = sum / (3.0 * first.width() * first.height());
    std::printf("%dx%d, mean channel difference %.2f\n", first.width(), first.height(), mean);
    return mean <= allowed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == "compare")
        return Compare(args[2], args[3], args[4].toDouble());
    if (args.size() != 3 || args[1] != "drag") {
        std::fprintf(stderr, "usage: drag_source drag FILE | compare A B MEAN\n");
        return 2;
    }
    DragSource window(args[2]);
    window.move(40, 600);
    window.show();
    return app.exec();
}
