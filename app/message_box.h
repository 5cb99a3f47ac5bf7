#pragma once
// The program's message boxes: plain ones (the server's reply, "Ungültiger Session-Name!") and
// the default error display for errors that no handler caught. Tests replace the sink to read
// what would have been shown.

#include <QString>

#include <functional>
#include <string>
#include <string_view>

namespace glimmerly {

// The text the error display shows for an error message: a "." is added when the message is not
// empty and its last character has a code above that of ".".
std::string ErrorDisplayText(std::string_view message);

enum class MessageKind { Plain, Error };
using MessageBoxSink = std::function<void(const QString& text, MessageKind kind)>;

// Replaces where message boxes go (nullptr: real message boxes). Returns the previous sink.
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);

// Caption "Glimmerly", one OK button. Texts are Windows-1252.
void ShowMessageBox(const std::string& text);
void ShowErrorBox(const std::string& errorMessage);

} // namespace glimmerly
