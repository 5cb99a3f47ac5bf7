#pragma once
// Small text routines on Windows-1252 byte strings, shared across the program.

#include <functional>
#include <string>
#include <string_view>

namespace glimmerly {

// The part of text before the first occurrence of delimiter; all of text when it does not occur.
// An empty delimiter counts as not occurring.
std::string TextBefore(std::string_view text, std::string_view delimiter);

// The part of text after the first occurrence of delimiter; empty when it does not occur.
std::string TextAfter(std::string_view text, std::string_view delimiter);

// Exact, case-sensitive prefix test; an empty prefix always matches.
bool StartsWith(std::string_view text, std::string_view prefix);

// Leading and trailing characters with a code of 32 or less removed.
std::string TrimControls(std::string_view text);

// Receives the one message NextField can show (a message box in the program).
using MessageSink = std::function<void(const std::string& message)>;

// Where NextField's message goes when the caller passes no sink of its own; by default nowhere.
void SetNextFieldMessageSink(MessageSink sink);

// Takes the next field off the front of text (changed in place). A leading "|" yields one empty
// field per call, whatever the delimiter; a text made only of delimiters reports
// "s: <text>|del:<delimiter>" through the sink and leaves text and field empty.
void NextField(std::string& text, char delimiter, std::string& field,
               const MessageSink& showMessage = {});

} // namespace glimmerly
