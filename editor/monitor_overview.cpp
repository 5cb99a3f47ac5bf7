#include "editor/monitor_overview.h"

#include "editor/clip_tool.h"
#include "editor/editor_geometry.h"
#include "editor/editor_picture.h"
#include "imaging/qt/picture_qimage.h"
#include "imaging/resample.h"

#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QSignalBlocker>

namespace glimmerly {

MonitorOverview::MonitorOverview(QComboBox& list, QWidget& panel, QLabel& strip,
                                 EditorPicture& picture, ClipTool& clip,
                                 std::function<void(int)> scrollTo)
    : list_(list), panel_(panel), strip_(strip), picture_(picture), clip_(clip),
      scrollTo_(std::move(scrollTo)) {
    // Only a choice of the user counts; entries set from code do not come back here.
    connect(&list_, &QComboBox::activated, this, &MonitorOverview::ApplyEntry);
    panel_.installEventFilter(this);
    SetMonitors({});
}

void MonitorOverview::SetMonitors(const std::vector<platform::Monitor>& monitors) {
    monitors_ = monitors;
    order_ = glimmerly::MonitorOrder(monitors);
    originX_ = glimmerly::PictureOriginX(monitors);
    const QSignalBlocker quiet(list_);
    list_.clear();
    for (std::size_t k = 1; k <= monitors_.size(); ++k)
        list_.addItem(QStringLiteral("Nur %1. Monitor").arg(k));
    list_.addItem(QStringLiteral("Alle Monitore"));
    panel_.resize(StripWidth(), kMonitorStripHeight);
    strip_.setGeometry(0, 0, StripWidth(), kMonitorStripHeight);
}

int MonitorOverview::StripWidth() const {
    return kMonitorCellWidth * static_cast<int>(monitors_.size());
}

void MonitorOverview::Open() {
    const int width = StripWidth();
    Picture thumbnail(width, kMonitorStripHeight);
    if (!picture_.OriginalBitmap.Empty() && width > 0) {
        Stretch(picture_.OriginalBitmap, thumbnail, BoxFilter, static_cast<float>(width));
        thumbnail_ = ToQImage(thumbnail).convertToFormat(QImage::Format_RGB32);
    } else {
        thumbnail_ = QImage();
    }
    ApplyEntry(0);
}

void MonitorOverview::ApplyEntry(int entry) {
    SelectMonitor(entry == list_.count() - 1 ? -1 : entry);
}

void MonitorOverview::SelectMonitor(int index) {
    const int cells = static_cast<int>(order_.size());
    if (index != -1 && (index < 0 || index >= cells))
        return; // no monitor there: nothing changes
    const QSignalBlocker quiet(list_);
    if (index == -1) {
        DrawMonitorSelection(0, panel_.width());
        list_.setCurrentIndex(list_.count() - 1);
        const Rect all = platform::MonitorUnion(monitors_);
        clip_.SetClip(Rect{0, 0, all.Width(), all.Height()});
        return;
    }
    DrawMonitorSelection(index * kMonitorCellWidth, kMonitorCellWidth);
    list_.setCurrentIndex(index);
    const Rect clip = MonitorClip(order_[static_cast<std::size_t>(index)], originX_);
    clip_.SetClip(clip);
    if (scrollTo_)
        scrollTo_(clip.Left);
}

bool MonitorOverview::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &panel_)
        return false;
    // Only mouse events may be taken as one; the panel gets many others (polish, paint, ...).
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    switch (type) {
    case QEvent::MouseButtonPress:
        Pressed(mouse->position().toPoint().x());
        clickArmed_ = true;
        return true;
    case QEvent::MouseButtonRelease:
        if (clickArmed_ && mouse->button() == Qt::LeftButton &&
            panel_.rect().contains(mouse->position().toPoint()))
            Clicked();
        clickArmed_ = false;
        return true;
    case QEvent::MouseButtonDblClick:
        Pressed(mouse->position().toPoint().x());
        clickArmed_ = false; // the second press of a double click is no click
        DoubleClicked();
        return true;
    default:
        return false;
    }
}

void MonitorOverview::DrawMonitorSelection(int start, int span) {
    const int width = StripWidth();
    if (width <= 0)
        return;
    shown_ = thumbnail_.isNull() ? QImage(width, kMonitorStripHeight, QImage::Format_RGB32)
                                 : thumbnail_.copy();
    if (thumbnail_.isNull())
        shown_.fill(Qt::black);
    for (int y = 0; y < shown_.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(shown_.scanLine(y));
        for (int x = 0; x < shown_.width(); ++x)
            if (DotAt(x, y, start, span))
                row[x] = qRgb(0, 0, 0);
    }
    QPainter painter(&shown_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor(176, 0, 0), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    // The outline of (start, 0) … (start + span, height), right and bottom exclusive.
    painter.drawRect(start, 0, span - 1, shown_.height() - 1);
    painter.end();
    strip_.setPixmap(QPixmap::fromImage(shown_));
}

} // namespace glimmerly
