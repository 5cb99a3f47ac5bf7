#pragma once
// Opening files that somebody else may have named on POSIX systems: a dropped file (the POSIX
// ReadRegularFile of platform/file_read.h), the picture a desktop service says it wrote. Nothing
// here waits on a pipe or a device, and nothing follows a link where that could lead outside the
// named place. No Qt.

#include "platform/file_read.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace glimmerly::platform {

// A file descriptor that is closed with its owner.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// Reads and removes a file that a service on our behalf has just written for us, refusing
// anything that could be somebody else's file: `path` must be absolute without ".." and is walked
// folder by folder without following any link; the file must be a regular file of at most
// `maxBytes`, owned by the effective user, with one link, and neither modified nor changed
// before `notBefore`. Only then is it read, and removed only while the name still leads to that
// same file. A refused file is left as it is.
FileRead TakeFreshOwnFile(const std::string& path, const timespec& notBefore,
                          std::uint64_t maxBytes);

} // namespace glimmerly::platform
