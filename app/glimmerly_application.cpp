#include "glimmerly_application.h"

#include "app/message_box.h"
#include "editor/design_font.h"

#include <QWidget>
#include <QWindow>

#include <exception>

namespace glimmerly {

GlimmerlyApplication::GlimmerlyApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Glimmerly"));
    setFont(DesignFont(11));
}

bool GlimmerlyApplication::notify(QObject* receiver, QEvent* event) {
    try {
        if (hook_ && hook_(receiver, event))
            return true;
        // Qt's Wayland backing store reaches the platform window without asking whether it is
        // still there: a repaint queued just before the compositor closed the window would crash
        // once it is gone. There is nothing to paint on then.
        if (event->type() == QEvent::UpdateRequest && receiver->isWidgetType()) {
            const QWindow* window = static_cast<QWidget*>(receiver)->window()->windowHandle();
            if (!window || !window->handle())
                return true;
        }
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorBox(e.what());
    } catch (...) {
        ShowErrorBox("Unbekannter Fehler");
    }
    return true;
}

} // namespace glimmerly
