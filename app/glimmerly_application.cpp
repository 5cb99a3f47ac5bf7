#include "glimmerly_application.h"

#include "app/message_box.h"
#include "editor/design_font.h"

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
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorBox(e.what());
    } catch (...) {
        ShowErrorBox("Unbekannter Fehler");
    }
    return true;
}

} // namespace glimmerly
