#pragma once
// TLine: a small transparent widget that shows one straight line, the rubber band of the line
// tool. It paints only its line; the rest of its box shows what lies behind it.

#include <QColor>
#include <QPoint>
#include <QWidget>

namespace glimmerly {

class TLine : public QWidget {
    Q_OBJECT

public:
    explicit TLine(QWidget* parent = nullptr);

    int LineWidth() const { return lineWidth_; }
    // Repaints only when the value really changes.
    void SetLineWidth(int width);
    QColor Color() const { return color_; }
    void SetColor(const QColor& color);

    // The box from (left, top) reaching `width` × `height` pixels, either of them possibly
    // negative (the pointer above or left of the start). The line runs from (left, top) to
    // (left + width, top + height) in the parent's coordinates, in its real direction; the
    // widget grows by half the pen so that the whole width of the line shows.
    void SetBox(int left, int top, int width, int height);
    QPoint Start() const { return start_; }
    QPoint End() const { return end_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Place();

    int lineWidth_ = 1;
    QColor color_ = Qt::black;
    QPoint start_;
    QPoint end_;
};

} // namespace glimmerly
