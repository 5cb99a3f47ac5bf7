#include "platform/wayland/portal_file.h"

namespace glimmerly::platform::wayland {

namespace {

// File times come from the kernel's coarse clock, a tick behind the one the request time is read
// from, and some file systems keep only whole (or even two) seconds.
constexpr time_t kClockGrace = 2;

} // namespace

FileRead TakeAnswerFile(unsigned response, const std::string& path, const timespec& requested,
                        std::size_t maxBytes) {
    if (response != 0)
        return {std::nullopt, "der Desktop hat es abgelehnt"};
    if (path.empty())
        return {std::nullopt, "die Antwort nennt keine Bilddatei"};
    timespec notBefore = requested;
    notBefore.tv_sec -= kClockGrace;
    return TakeFreshOwnFile(path, notBefore, maxBytes);
}

} // namespace glimmerly::platform::wayland
