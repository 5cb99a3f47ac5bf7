#include "editor/clip_tool.h"

#include "editor/editor_geometry.h"

#include <QPainter>

namespace glimmerly {
namespace {

QRect ToQRect(Rect r) {
    return QRect(r.Left, r.Top, r.Width(), r.Height());
}

} // namespace

ClipTool::ClipTool(EditorPicture& picture, PictureView& view, std::function<void(QString)> showSize)
    : picture_(picture), view_(view), showSize_(std::move(showSize)) {}

void ClipTool::RightRect() {
    QImage& image = picture_.image;
    if (image.isNull() || picture_.original.isNull() || picture_.pristine)
        return; // nothing to bring back
    const Rect inside =
        Intersect(Ordered(picture_.ClipRect), Rect{0, 0, image.width(), image.height()});
    // Only where the rectangle is not inverted does anything of the edited picture stay.
    const bool keep = picture_.ClipRect.Right > picture_.ClipRect.Left &&
                      picture_.ClipRect.Bottom > picture_.ClipRect.Top && !IsEmptyRect(inside);
    const QRect kept = keep ? ToQRect(inside) : QRect();
    if (keep) {
        if (picture_.scratch.size() != kept.size() || picture_.scratch.format() != image.format())
            picture_.scratch = QImage(kept.size(), image.format());
        QPainter(&picture_.scratch).drawImage(QPoint(0, 0), image, kept);
    }
    picture_.RestoreOriginal();
    if (keep) {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(kept.topLeft(), picture_.scratch, QRect(QPoint(0, 0), kept.size()));
    }
    view_.update();
}

void ClipTool::FillClipBorders() {
    picture_.touched = picture_.image.rect();
    CoverTouched();
}

void ClipTool::CoverTouched() {
    QImage& image = picture_.image;
    const QRect touched = picture_.touched & image.rect();
    picture_.touched = QRect();
    if (touched.isEmpty())
        return;
    QPainter painter(&image);
    for (const Rect& band : BorderBands(picture_.ClipRect, image.width(), image.height())) {
        const QRect area = ToQRect(band) & touched;
        if (area.isEmpty())
            continue;
        painter.fillRect(area, kBorderColour);
        picture_.pristine = false;
        view_.update(area);
    }
}

void ClipTool::DisplayClipSize() {
    if (showSize_)
        showSize_(QString::fromStdString(ClipSizeText(picture_.ClipRect)));
}

void ClipTool::SetClip(Rect clip) {
    RightRect();
    picture_.ClipRect = clip;
    FillClipBorders();
    DisplayClipSize();
}

void ClipTool::FirstCorner(QPoint at) {
    Rect clip = picture_.ClipRect;
    clip.Left = at.x();
    clip.Top = at.y();
    SetClip(clip);
}

void ClipTool::SecondCorner(QPoint at) {
    Rect clip = picture_.ClipRect;
    clip.Right = at.x();
    clip.Bottom = at.y();
    SetClip(clip);
}

} // namespace glimmerly
