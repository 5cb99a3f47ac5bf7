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
    start_ = at;
    end_ = at;
    preview_.SetLineWidth(kLineWidth);
    preview_.SetColor(colour);
    FollowPicture();
    preview_.show();
    preview_.raise();
}

void LineTool::Move(QPoint to) {
    if (preview_.isHidden())
        return;
    end_ = to;
    FollowPicture();
}

void LineTool::Release(QPoint at, const QColor& colour) {
    if (preview_.isHidden())
        return;
    view_.Touch(picture_.DrawSegment(start_, at, colour, kLineWidth));
    preview_.hide();
}

void LineTool::FollowPicture() {
    const QPoint start = start_ + view_.pos();
    preview_.SetBox(start.x(), start.y(), end_.x() - start_.x(), end_.y() - start_.y());
}

void TextTool::Press(QPoint at) {
    anchor_ = at;
    edit_.clear();
    FollowPicture();
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

void TextTool::FollowPicture() {
    edit_.move(anchor_ + view_.pos() - QPoint(0, edit_.height() / 2));
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
    // No clip: a "j" that hooks left of the anchor or an italic "f" that leans past the end
    // keeps all of its pixels.
    const QFontMetrics metrics(edit_.font());
    const QPoint baseline(anchor_.x(), anchor_.y() - 11 + metrics.ascent());
    painter.drawText(baseline, text);
    // The glyphs' ink with a little room for the rasteriser, and the whole cell.
    const QRect drawn =
        metrics.boundingRect(text).translated(baseline).adjusted(-2, -2, 2, 2) |
        QRect(anchor_.x(), anchor_.y() - 11, metrics.horizontalAdvance(text), metrics.height());
    picture_.touched |= drawn;
    picture_.pristine = false;
    view_.update(drawn);
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
