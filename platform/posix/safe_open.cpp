#include "platform/posix/safe_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace glimmerly::platform {

namespace {

// Never blocks on a pipe or device, never makes a terminal ours.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

FileRead Refused(std::string why) {
    return {std::nullopt, std::move(why)};
}

// The whole of the opened regular file; nullopt with `error` set (0: more than `maxBytes`, as
// found before reading or while the file grew).
std::optional<std::string> ReadOpened(int fd, const struct stat& info, std::uint64_t maxBytes,
                                      int& error) {
    error = 0;
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
        return std::nullopt;
    std::string data;
    data.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            return std::nullopt;
        }
        if (n == 0)
            return data;
        if (data.size() + static_cast<std::uint64_t>(n) > maxBytes)
            return std::nullopt;
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

bool Before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The path's parts between slashes, without empty ones and "."; nullopt for a relative path or one
// with "..", which could climb out of the folder the name seems to lie in.
std::optional<std::vector<std::string>> PathParts(const std::string& path) {
    if (path.empty() || path.front() != '/')
        return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".")
            parts.push_back(std::move(part));
        start = end + 1;
    }
    if (parts.empty() || path.back() == '/')
        return std::nullopt;
    return parts;
}

// The folder that holds the last of `parts`, walked to from the root one folder at a time
// without following a link; an empty descriptor with `refusal` set when that fails.
UniqueFd OpenFolderWithoutLinks(const std::vector<std::string>& parts, std::string& refusal) {
    // O_PATH needs no read right on the folders.
    UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        refusal = std::string("die Wurzel ist nicht zu öffnen: ") + std::strerror(errno);
        return folder;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        UniqueFd next(::openat(folder.get(), parts[i].c_str(),
                               O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const int error = errno;
        struct stat info {};
        if (next && ::fstat(next.get(), &info) == 0 && S_ISDIR(info.st_mode)) {
            folder = std::move(next);
            continue;
        }
        if (next || error == ELOOP || error == ENOTDIR)
            refusal = "der Weg zur Bilddatei führt über eine Verknüpfung oder keinen Ordner";
        else
            refusal = std::string("der Ordner der Bilddatei ist nicht zu öffnen: ") +
                      std::strerror(error);
        return UniqueFd();
    }
    return folder;
}

} // namespace

UniqueFd::~UniqueFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

std::string_view FolderSeparators() {
    return "/";
}

FileRead ReadRegularFile(const std::string& path, std::uint64_t maxBytes) {
    const UniqueFd file(::open(path.c_str(), kReadFlags));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0)
        return Refused(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return Refused("keine gewöhnliche Datei");
    int error = 0;
    std::optional<std::string> bytes = ReadOpened(file.get(), info, maxBytes, error);
    if (!bytes)
        return Refused(error != 0 ? std::strerror(error) : "zu groß");
    return {std::move(bytes), {}};
}

FileRead TakeFreshOwnFile(const std::string& path, const timespec& notBefore,
                          std::uint64_t maxBytes) {
    const std::optional<std::vector<std::string>> parts = PathParts(path);
    if (!parts)
        return Refused("der Pfad der Bilddatei ist ungültig");

    std::string refusal;
    const UniqueFd folder = OpenFolderWithoutLinks(*parts, refusal);
    if (!folder)
        return Refused(std::move(refusal));

    const std::string& name = parts->back();
    const UniqueFd file(::openat(folder.get(), name.c_str(), kReadFlags | O_NOFOLLOW));
    if (!file) {
        if (errno == ELOOP)
            return Refused("die Bilddatei ist eine Verknüpfung");
        return Refused(std::string("die Bilddatei ist nicht zu öffnen: ") + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return Refused(std::string("die Bilddatei ist nicht lesbar: ") + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return Refused("die Bilddatei ist keine gewöhnliche Datei");
    if (info.st_uid != ::geteuid())
        return Refused("die Bilddatei gehört einem anderen Benutzer");
    if (info.st_nlink != 1)
        return Refused("die Bilddatei hat noch andere Namen");
    if (Before(info.st_mtim, notBefore) || Before(info.st_ctim, notBefore))
        return Refused("die Bilddatei ist älter als die Anfrage");

    // Ours and fresh: read it, then remove it whatever the read gave, but only while its name
    // still leads to the file that was read.
    int error = 0;
    FileRead read{ReadOpened(file.get(), info, maxBytes, error), {}};
    if (!read.bytes && error != 0)
        read.refusal = std::string("die Bilddatei ist nicht lesbar: ") + std::strerror(error);
    else if (!read.bytes)
        read.refusal = "die Bilddatei ist zu groß";
    struct stat now {};
    if (::fstatat(folder.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_dev == info.st_dev && now.st_ino == info.st_ino)
        ::unlinkat(folder.get(), name.c_str(), 0);
    return read;
}

} // namespace glimmerly::platform
