#include "editor/editor_picture.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPen>

namespace glimmerly {

void EditorPicture::Load(Picture picture) {
    OriginalBitmap = std::move(picture);
    pristine = true;
    touched = QRect();
    if (OriginalBitmap.Empty()) {
        original = QImage();
        image = QImage();
        return;
    }
    original = QImage(OriginalBitmap.pixels.data(), OriginalBitmap.width, OriginalBitmap.height,
                      static_cast<qsizetype>(OriginalBitmap.stride), QImage::Format_BGR888);
    image = original.convertToFormat(QImage::Format_RGB32);
}

void EditorPicture::RestoreOriginal() {
    if (original.isNull())
        return;
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, original);
    touched = image.rect();
    pristine = true;
}

QRect EditorPicture::DrawSegment(QPoint from, QPoint to, const QColor& colour, int width) {
    if (image.isNull())
        return QRect();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (from == to)
        painter.drawPoint(from);
    else
        painter.drawLine(from, to);
    const QRect area = QRect(from, to).normalized().adjusted(-width, -width, width, width);
    touched |= area;
    pristine = false;
    return area;
}

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::SetPicture(const EditorPicture* picture) {
    picture_ = picture;
    PictureReplaced();
}

void PictureView::PictureReplaced() {
    resize(picture_ && !picture_->image.isNull() ? picture_->image.size() : QSize(0, 0));
    update();
}

void PictureView::SetCursorId(int id) {
    cursorId_ = id;
    // The empty part of the scroll area around a small picture takes the tool's cursor too.
    const auto it = cursors_.find(id);
    for (QWidget* widget : {static_cast<QWidget*>(this), parentWidget()}) {
        if (!widget)
            continue;
        if (it == cursors_.end())
            widget->unsetCursor();
        else
            widget->setCursor(it->second);
    }
}

void PictureView::RegisterCursor(int id, const QCursor& cursor) {
    cursors_[id] = cursor;
}

void PictureView::Touch(const QRect& area) {
    if (area.isEmpty())
        return;
    const bool scheduled = !pending_.isEmpty();
    pending_ |= area;
    if (!scheduled)
        QMetaObject::invokeMethod(
            this,
            [this] {
                update(pending_);
                pending_ = QRect();
            },
            Qt::QueuedConnection);
}

void PictureView::paintEvent(QPaintEvent* event) {
    if (!picture_ || picture_->image.isNull())
        return;
    QPainter painter(this);
    const QRect area = event->rect() & picture_->image.rect();
    painter.drawImage(area.topLeft(), picture_->image, area);
}

} // namespace glimmerly
