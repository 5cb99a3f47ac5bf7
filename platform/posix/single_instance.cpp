#include "platform/posix/single_instance.h"

#include "platform/posix/posix_files.h"
#include "text/cp1252.h"

#include <cerrno>
#include <cstring>
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

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
    throw std::runtime_error(
        cp1252::FromUtf8("Die Sperrdatei " + path + " lässt sich nicht verwenden: " + why));
}

} // namespace

std::unique_ptr<InstanceGuard> AcquireSingleInstanceIn(const std::string& folder,
                                                       const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        Fail(name, "kein einfacher Dateiname");
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
        Fail(path, std::strerror(errno));
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR)
            continue;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return nullptr; // held: another copy runs
        Fail(path, std::strerror(error));
    }
    return std::make_unique<LockFileGuard>(fd);
}

std::unique_ptr<InstanceGuard> AcquireSingleInstance(const std::string& name) {
    return AcquireSingleInstanceIn(ProgramFolder(PrivatePlaces::FromEnvironment()), name);
}

} // namespace glimmerly::platform
