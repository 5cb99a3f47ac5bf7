// The editor on a 3840 × 1080 capture of two monitors, offscreen:
//   editor_bench [REPEATS]
// "open": from the hand-off to the editor shown and painted (pictures copied, strip shrunk,
//   first monitor chosen, bands painted), against Stretch to the strip plus two copies of the
//   picture;
// "stroke": a 1000-segment pen stroke through the editor's mouse handlers, repaint included,
//   against bare QPainter drawing the same segments into a QImage;
// "memory": heap the open editor adds, against picture + original + scratch + strip.

#include "editor/image_editor_form.h"
#include "imaging/resample.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <string>
#include <vector>

using namespace glimmerly;

namespace {

double Median(int repeats, const std::function<void()>& prepare, const std::function<void()>& run) {
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        run();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// Heap in use, large blocks included.
long HeapKiB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

Picture Capture() {
    Picture picture(3840, 1080);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            std::uint8_t* p = picture.At(x, y);
            p[0] = static_cast<std::uint8_t>(x * 7);
            p[1] = static_cast<std::uint8_t>(y * 3);
            p[2] = static_cast<std::uint8_t>(x + y);
        }
    return picture;
}

std::vector<QPoint> Stroke() {
    std::vector<QPoint> points;
    for (int i = 0; i <= 1000; ++i)
        points.emplace_back(100 + i, 300 + (i % 40) * 5);
    return points;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const Picture capture = Capture();
    const std::vector<platform::Monitor> monitors{{Rect{0, 0, 1920, 1080}, true},
                                                  {Rect{1920, 0, 3840, 1080}, false}};
    ImageEditorForm form;

    // Open: hand-off to shown.
    Picture input;
    const double open = Median(
        repeats,
        [&] {
            form.hide();
            input = capture;
        },
        [&] {
            form.Prepare(std::move(input), false, monitors);
            form.show();
            QApplication::processEvents();
        });
    Picture source = capture;
    Picture copyA, copyB;
    const double floor = Median(
        repeats, [] {},
        [&] {
            Picture strip(100, 40);
            Stretch(source, strip, BoxFilter, 100.0f);
            copyA = source;
            copyB = source;
        });
    std::printf("open %.2f ms, Stretch + two copies %.2f ms, ratio %.2f\n", open, floor,
                open / floor);

    // Stroke: 1000 segments with the pen.
    const std::vector<QPoint> points = Stroke();
    form.SelectMode(form.findChild<QWidget*>(QStringLiteral("CmdPaint")));
    const double stroke = Median(
        repeats, [] { QApplication::processEvents(); },
        [&] {
            form.Image1MouseDown(Qt::LeftButton, points.front());
            for (std::size_t i = 1; i < points.size(); ++i)
                form.Image1MouseMove(points[i]);
            form.Image1MouseUp(points.back());
            // The queued repaint, then the paint it asks for.
            QApplication::processEvents();
            QApplication::processEvents();
        });
    const double handlers = Median(
        repeats, [] { QApplication::processEvents(); },
        [&] {
            form.Image1MouseDown(Qt::LeftButton, points.front());
            for (std::size_t i = 1; i < points.size(); ++i)
                form.Image1MouseMove(points[i]);
            form.Image1MouseUp(points.back());
        });
    QImage bare(3840, 1080, QImage::Format_RGB32);
    bare.fill(Qt::white);
    const double painter = Median(
        repeats, [] {},
        [&] {
            for (std::size_t i = 1; i < points.size(); ++i) {
                QPainter p(&bare);
                p.setPen(QPen(Qt::red, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                p.drawLine(points[i - 1], points[i]);
            }
        });
    std::printf("stroke %.2f ms (%.2f ms without the repaint), bare QPainter %.2f ms, ratio %.2f\n",
                stroke, handlers, painter, stroke / painter);

    // Memory: a fresh editor, before and while open.
    copyA = Picture();
    copyB = Picture();
    source = Picture();
    form.hide();
    ImageEditorForm fresh;
    Picture handed = capture;
    // The handed picture becomes OriginalBitmap: counted as the editor's.
    const long before = HeapKiB() - static_cast<long>(handed.pixels.size() / 1024);
    fresh.Prepare(std::move(handed), false, monitors);
    fresh.show();
    QApplication::processEvents();
    const long added = HeapKiB() - before;
    const long expected =
        static_cast<long>((3840L * 1080 * 4 + 3840L * 1080 * 3 + 1920L * 1080 * 4) / 1024 + 16);
    std::printf("memory added %ld KiB, picture + original + scratch + strip %ld KiB, ratio %.2f\n",
                added, expected, static_cast<double>(added) / static_cast<double>(expected));
    return 0;
}
