#include "message_box.h"

#include "text/qt_cp1252.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace glimmerly {
namespace {

MessageBoxSink& Sink() {
    static MessageBoxSink sink;
    return sink;
}

void Show(const QString& text, MessageKind kind) {
    if (Sink()) {
        Sink()(text, kind);
        return;
    }
    QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QStringLiteral("Glimmerly"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // a server's text is shown word for word, never as markup
    box.exec();
}

} // namespace

std::string ErrorDisplayText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    return text;
}

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
    return std::exchange(Sink(), sink);
}

void ShowMessageBox(const std::string& text) {
    Show(cp1252::ToQString(text), MessageKind::Plain);
}

void ShowErrorBox(const std::string& errorMessage) {
    Show(cp1252::ToQString(ErrorDisplayText(errorMessage)), MessageKind::Error);
}

} // namespace glimmerly
