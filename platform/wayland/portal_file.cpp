#include "platform/wayland/portal_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace glimmerly::platform::wayland {

namespace {

std::optional<std::string> ReadFile(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
        static_cast<std::uint64_t>(info.st_size) <= maxBytes) {
        std::string data;
        data.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || data.size() + static_cast<std::size_t>(n) > maxBytes)
                break;
            if (n == 0) {
                bytes = std::move(data);
                break;
            }
            data.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return bytes;
}

} // namespace

std::optional<std::string> ReadAndDelete(const std::string& path, std::size_t maxBytes) {
    std::optional<std::string> bytes = ReadFile(path, maxBytes);
    ::unlink(path.c_str());
    return bytes;
}

} // namespace glimmerly::platform::wayland
