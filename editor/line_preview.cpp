#include "editor/line_preview.h"

#include <QPainter>
#include <QPen>

#include <algorithm>

namespace glimmerly {

TLine::TLine(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    SetBox(0, 0, 65, 65);
}

void TLine::SetLineWidth(int width) {
    if (width == lineWidth_)
        return;
    lineWidth_ = width;
    Place();
    update();
}

void TLine::SetColor(const QColor& color) {
    if (color == color_)
        return;
    color_ = color;
    update();
}

void TLine::SetBox(int left, int top, int width, int height) {
    start_ = QPoint(left, top);
    end_ = QPoint(left + width, top + height);
    Place();
}

void TLine::Place() {
    const int margin = (std::max(lineWidth_, 1) + 1) / 2;
    const QRect box = QRect(start_, end_).normalized();
    setGeometry(box.adjusted(-margin, -margin, margin + 1, margin + 1));
}

void TLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(color_, lineWidth_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPoint offset = pos();
    painter.drawLine(start_ - offset, end_ - offset);
}

} // namespace glimmerly
