#include "text/text_routines.h"

#include <mutex>
#include <utility>

namespace glimmerly {
namespace {

std::mutex sinkMutex;
MessageSink& DefaultSink() {
    static MessageSink sink;
    return sink;
}

bool IsBlank(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 32)
            return false;
    }
    return true;
}

} // namespace

std::string TextBefore(std::string_view text, std::string_view delimiter) {
    if (delimiter.empty())
        return std::string(text);
    const auto pos = text.find(delimiter);
    return std::string(pos == std::string_view::npos ? text : text.substr(0, pos));
}

std::string TextAfter(std::string_view text, std::string_view delimiter) {
    if (delimiter.empty())
        return {};
    const auto pos = text.find(delimiter);
    if (pos == std::string_view::npos)
        return {};
    return std::string(text.substr(pos + delimiter.size()));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string TrimControls(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return std::string(text.substr(begin, end - begin));
}

void SetNextFieldMessageSink(MessageSink sink) {
    std::lock_guard lock(sinkMutex);
    DefaultSink() = std::move(sink);
}

void NextField(std::string& text, char delimiter, std::string& field,
               const MessageSink& showMessage) {
    field.clear();
    if (text.find(delimiter) == std::string::npos || IsBlank(text) || text == "|" || text == "||")
        return;
    if (text.front() == '|') {
        text.erase(0, 1);
        return;
    }
    const std::string given = text;
    std::size_t lead = 0;
    while (lead < text.size() && text[lead] == delimiter)
        ++lead;
    text.erase(0, lead);
    if (text.empty()) {
        const std::string message = "s: " + given + "|del:" + delimiter;
        if (showMessage) {
            showMessage(message);
        } else {
            MessageSink sink;
            {
                std::lock_guard lock(sinkMutex);
                sink = DefaultSink();
            }
            if (sink)
                sink(message);
        }
        return;
    }
    const std::string delim(1, delimiter);
    field = TextBefore(text, delim);
    text = TextAfter(text, delim);
}

} // namespace glimmerly
