#pragma once
// An editor window offscreen, loaded with a patterned picture, and helpers to click, drag and
// read pixels and status panels.

#include "editor/image_editor_form.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

// Readable failure messages for points, rectangles and colours.
inline void PrintTo(const QPoint& p, std::ostream* os) {
    *os << "(" << p.x() << ", " << p.y() << ")";
}
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << "(" << r.x() << ", " << r.y() << ") " << r.width() << "x" << r.height();
}
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QColor& c, std::ostream* os) {
    *os << "RGB(" << c.red() << ", " << c.green() << ", " << c.blue() << ")";
}

namespace glimmerly::test {

// Blue = x, green = y (both modulo 256), red 40: every pixel of the capture tells its place.
inline Picture Pattern(int width, int height) {
    Picture picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = picture.At(x, y);
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = 40;
        }
    return picture;
}

inline QColor PatternAt(int x, int y) {
    return QColor(40, y % 256, x % 256);
}

inline platform::Monitor MonitorAt(int left, int width, int height) {
    return platform::Monitor{Rect{left, 0, left + width, height}, left == 0};
}

class EditorFixture : public ::testing::Test {
protected:
    void Open(int width, int height, bool wholePicture,
              std::vector<platform::Monitor> monitors = {MonitorAt(0, 1920, 1080)}) {
        Open(Pattern(width, height), wholePicture, std::move(monitors));
    }
    void Open(Picture picture, bool wholePicture, std::vector<platform::Monitor> monitors) {
        form = std::make_unique<ImageEditorForm>();
        form->Prepare(std::move(picture), wholePicture, monitors);
        form->show();
        QApplication::setActiveWindow(form.get());
        QApplication::processEvents();
    }

    template <typename T> T* Child(const char* name) {
        return form->findChild<T*>(QLatin1String(name));
    }
    QWidget* Image1() { return Child<QWidget>("Image1"); }
    QString Status(int panel) {
        return Child<QLabel>(QStringLiteral("StatusPanel%1").arg(panel).toLatin1().constData())
            ->text();
    }
    QColor Pixel(int x, int y) { return form->Image().pixelColor(x, y); }
    void PressPanel(const char* name, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(Child<QWidget>(name), button, {}, QPoint(5, 5));
    }
    void Click(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(Image1(), button, {}, at);
    }
    // A press and release at a picture point that may lie outside the visible part.
    void ClickAnywhere(QPoint at) {
        form->Image1MouseDown(Qt::LeftButton, at);
        form->Image1MouseUp(at);
    }
    void Drag(QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(Image1(), button, {}, from);
        QTest::mouseMove(Image1(), (from + to) / 2);
        QTest::mouseMove(Image1(), to);
        QTest::mouseRelease(Image1(), button, {}, to);
    }
    void Type(const QString& text) { QTest::keyClicks(Child<QLineEdit>("Edit1"), text); }
    void Key(Qt::Key key) { QTest::keyClick(Child<QLineEdit>("Edit1"), key); }
    // Keys as the keyboard sends them: to the window, which hands them to its focus widget.
    void KeyboardTypes(const QString& text) {
        for (QChar c : text)
            QTest::keyClick(form->windowHandle(), c.toLatin1());
    }
    void KeyboardPresses(Qt::Key key) { QTest::keyClick(form->windowHandle(), key); }
    QScrollArea* Scroll() { return Child<QScrollArea>("ScrollBox1"); }
    // A point of the scroll area's visible part in window coordinates.
    QPoint InView(QPoint p) { return Scroll()->viewport()->mapTo(form.get(), p); }

    std::unique_ptr<ImageEditorForm> form;
};

inline const QColor kGrey(163, 163, 163);
inline const QColor kRed(255, 0, 0);

} // namespace glimmerly::test
