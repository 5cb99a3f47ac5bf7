#include "platform/posix/single_instance.h"

#include "platform/posix/posix_files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace glimmerly::platform {

namespace {

class LockFileGuard : public InstanceGuard {
public:
    explicit LockFileGuard(int fd) : fd_(fd) {}
    ~LockFileGuard() override { ::close(fd_); }
    LockFileGuard(const LockFileGuard&) = delete;
    LockFileGuard& operator=(const LockFileGuard&) = delete;

private:
    int fd_;
};

bool IsPrivateRuntimeDir(const std::string& path) {
    struct stat st {};
    return !path.empty() && path.front() == '/' && ::lstat(path.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

} // namespace

std::unique_ptr<InstanceGuard> AcquireSingleInstanceIn(const std::string& folder,
                                                       const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return nullptr;
    }
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    // O_CLOEXEC: programs started from here (the browser) must not inherit the lock.
    // O_NOFOLLOW: a planted symlink is not followed.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return nullptr;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return nullptr;
        }
    }
    return std::make_unique<LockFileGuard>(fd);
}

std::unique_ptr<InstanceGuard> AcquireSingleInstance(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && IsPrivateRuntimeDir(runtime)) {
        return AcquireSingleInstanceIn(runtime, name);
    }
    std::string folder;
    try {
        folder = PosixFiles().TempDir();
    } catch (const std::runtime_error&) {
        return nullptr;
    }
    return AcquireSingleInstanceIn(folder, name);
}

} // namespace glimmerly::platform
