#include "editor/drawing_tools.h"

#include "editor/line_preview.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>

namespace glimmerly {

void PenTool::Press(QPoint at, bool left, const QColor& colour) {
    if (!left)
        return;
    position_ = at;
    view_.Touch(picture_.DrawSegment(at, at, colour, kPenWidth));
}

void PenTool::Move(QPoint to, bool mouseIsDown, const QColor& colour) {
    if (!mouseIsDown)
        return;
    view_.Touch(picture_.DrawSegment(position_, to, colour, kPenWidth));
    position_ = to;
}

void LineTool::Press(QPoint at, const QColor& colour) {
    preview_.SetLineWidth(kLineWidth);
    preview_.SetColor(colour);
    preview_.SetBox(at.x(), at.y(), 0, 0);
    preview_.show();
    preview_.raise();
}

void LineTool::Move(QPoint to) {
    if (preview_.isHidden())
        return;
    const QPoint start = preview_.Start();
    preview_.SetBox(start.x(), start.y(), to.x() - start.x(), to.y() - start.y());
}

void LineTool::Release(QPoint at, const QColor& colour) {
    if (preview_.isHidden())
        return;
    view_.Touch(picture_.DrawSegment(preview_.Start(), at, colour, kLineWidth));
    preview_.hide();
}

void TextTool::Press(QPoint at) {
    anchor_ = at;
    edit_.clear();
    const int height = edit_.height();
    edit_.move(at.x(), at.y() - height / 2);
    Changed();
    QColor background = Qt::white;
    if (picture_.image.rect().contains(at))
        background = picture_.image.pixelColor(at);
    QPalette palette = edit_.palette();
    palette.setColor(QPalette::Base, background);
    edit_.setPalette(palette);
    edit_.show();
    edit_.raise();
    edit_.setFocus(Qt::MouseFocusReason);
}

void TextTool::Changed() {
    edit_.resize(QFontMetrics(edit_.font()).horizontalAdvance(edit_.text()) + 20, edit_.height());
}

void TextTool::Write() {
    edit_.hide();
    const QString text = edit_.text();
    if (text.isEmpty() || picture_.image.isNull())
        return;
    QPainter painter(&picture_.image);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(edit_.font());
    painter.setPen(edit_.palette().color(QPalette::Text));
    const QFontMetrics metrics(edit_.font());
    const QRect cell(anchor_.x(), anchor_.y() - 11, metrics.horizontalAdvance(text) + 2,
                     metrics.height());
    painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    picture_.touched |= cell;
    picture_.pristine = false;
    view_.update(cell);
}

void TextTool::SetColour(const QColor& colour) {
    QPalette palette = edit_.palette();
    palette.setColor(QPalette::Text, colour);
    edit_.setPalette(palette);
}

bool TextTool::IsOpen() const {
    return !edit_.isHidden();
}

} // namespace glimmerly
