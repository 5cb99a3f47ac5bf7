#include "platform/qt/qt_parts.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace glimmerly::platform::qt {

void QtFileDrops::Accept(std::uintptr_t window, bool on) {
    QWidget* widget = window == 0 ? nullptr : QWidget::find(static_cast<WId>(window));
    if (!widget)
        return;
    // Qt keeps one filter however often it is installed; a window that takes no drops gets no
    // drag events at all.
    if (on)
        widget->installEventFilter(this);
    else
        widget->removeEventFilter(this);
    widget->setAcceptDrops(on);
}

bool QtFileDrops::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::DragEnter) {
        auto* enter = static_cast<QDragEnterEvent*>(event);
        const QList<QUrl> urls = enter->mimeData()->urls();
        if (!urls.isEmpty() && urls.front().isLocalFile())
            enter->acceptProposedAction();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        std::vector<std::string> paths;
        for (const QUrl& url : drop->mimeData()->urls()) {
            if (url.isLocalFile())
                paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
        }
        drop->acceptProposedAction();
        // The drag source gets its answer first; the handler may open modal windows.
        QTimer::singleShot(0, this, [this, paths] {
            if (onDrop_)
                onDrop_(paths);
        });
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace glimmerly::platform::qt
