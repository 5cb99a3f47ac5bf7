#include "platform/platform.h"

#include <utility>

namespace glimmerly::platform {

void Notices::Post(std::string text) {
    if (handler_)
        handler_(text);
    else
        waiting_.push_back(std::move(text));
}

void Notices::SetHandler(std::function<void(const std::string& text)> onNotice) {
    handler_ = std::move(onNotice);
    if (!handler_)
        return;
    for (const std::string& text : std::exchange(waiting_, {}))
        handler_(text);
}

} // namespace glimmerly::platform
