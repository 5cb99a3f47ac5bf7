#include "platform/posix/posix_files.h"

#include "text/cp1252.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace glimmerly::platform {

namespace {

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

std::string WithoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
    // Texts of the program are Windows-1252; this one is written (and the path named) in UTF-8.
    throw std::runtime_error(
        cp1252::FromUtf8("Temporärer Ordner " + path + " ist nicht sicher: " + why));
}

// The user's cache folder, which holds the program folder when there is no private runtime
// folder: made 0700 when missing (as the base directory rules ask). It may be a link (to another
// disk, say), but what it leads to must be the user's and not open to others' writing, or the
// program folder in it could be swapped.
void EnsureCacheFolder(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        throw std::runtime_error(cp1252::FromUtf8(
            "Kein privater Ordner: weder XDG_RUNTIME_DIR noch ein Benutzerordner ist bekannt"));
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        Refuse(path, std::strerror(errno));
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        Refuse(path, std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        Refuse(path, "kein Ordner");
    if (st.st_uid != ::geteuid())
        Refuse(path, "gehört einem anderen Benutzer");
    if ((st.st_mode & S_IWOTH) != 0)
        Refuse(path, "für alle beschreibbar");
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close (and so the last writes) succeeded.
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

} // namespace

void EnsurePrivateFolder(const std::string& given) {
    const std::string path = WithoutSlash(given);
    if (path.empty()) {
        Refuse(given, "kein Pfad");
    }
    if (::mkdir(path.c_str(), 0700) == 0) {
        // The umask may have taken rights from the owner; the folder is ours, so set them.
        ::chmod(path.c_str(), 0700);
    } else if (errno != EEXIST) {
        Refuse(path, std::strerror(errno));
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        Refuse(path, std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode)) {
        Refuse(path, "symbolische Verknüpfung");
    }
    if (!S_ISDIR(st.st_mode)) {
        Refuse(path, "kein Ordner");
    }
    if (st.st_uid != ::geteuid()) {
        Refuse(path, "gehört einem anderen Benutzer");
    }
    if ((st.st_mode & 07777) != 0700) {
        Refuse(path, "Zugriffsrechte sind nicht 0700");
    }
}

bool IsOwnPrivateFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

PrivatePlaces PrivatePlaces::FromEnvironment() {
    PrivatePlaces places;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"))
        places.runtimeDir = runtime;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
        places.cacheDir = cache;
        return places;
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::geteuid());
               user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
        home = user->pw_dir;
    }
    if (!home.empty())
        places.cacheDir = WithSlash(home) + ".cache";
    return places;
}

bool PrivatePlaces::UsesRuntimeDir() const {
    return !runtimeDir.empty() && runtimeDir.front() == '/' &&
           IsOwnPrivateFolder(WithoutSlash(runtimeDir));
}

std::string ProgramFolder(const PrivatePlaces& places) {
    if (places.UsesRuntimeDir())
        return WithoutSlash(places.runtimeDir);
    const std::string cache = WithoutSlash(places.cacheDir);
    EnsureCacheFolder(cache);
    const std::string path = WithSlash(cache) + "glimmerly";
    EnsurePrivateFolder(path);
    return path;
}

PosixFiles::PosixFiles() : places_(PrivatePlaces::FromEnvironment()) {}

PosixFiles::PosixFiles(std::string runtimeDir, std::string cacheDir)
    : places_{std::move(runtimeDir), std::move(cacheDir)} {}

std::string PosixFiles::TempDir() {
    if (places_.UsesRuntimeDir()) {
        const std::string path = WithSlash(places_.runtimeDir) + "glimmerly";
        EnsurePrivateFolder(path);
        return WithSlash(path);
    }
    return WithSlash(ProgramFolder(places_));
}

void PosixFiles::WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw std::runtime_error(cp1252::FromUtf8(
            "Die Datei \"" + path + "\" kann nicht angelegt werden: " + std::strerror(errno)));
    }
    int error = 0;
    std::size_t done = 0;
    while (done < bytes.size() && error == 0) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR)
            error = errno;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        // Remove what was written, but only from a plain file (never a device or the like).
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::unlink(path.c_str());
        throw std::runtime_error(cp1252::FromUtf8(
            "Die Datei \"" + path + "\" kann nicht geschrieben werden: " + std::strerror(error)));
    }
}

bool PosixFiles::DeleteFile(const std::string& path) {
    struct stat st {};
    // Only files: a folder given here is an error, as with the Windows call.
    if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

bool PosixFiles::MoveFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) {
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return true;
    }
    if (errno != EXDEV) {
        return false;
    }
    return CopyThenDelete(from, to);
}

bool PosixFiles::CopyThenDelete(const std::string& from, const std::string& to) {
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    // The copy is written under a temporary name beside the target and only renamed onto it
    // once complete, so a failed copy neither leaves half a file nor destroys an existing one.
    std::string partName = to + ".XXXXXX";
    std::vector<char> templ(partName.begin(), partName.end());
    templ.push_back('\0');
    Fd out(::mkostemp(templ.data(), O_CLOEXEC));
    if (out.get() < 0) {
        return false;
    }
    partName = templ.data();
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ok = ok && ::fchmod(out.get(), st.st_mode & 07777) == 0;
    ok = ok && ::fsync(out.get()) == 0;
    ok = out.Close() && ok;
    ok = ok && ::rename(partName.c_str(), to.c_str()) == 0;
    if (!ok) {
        ::unlink(partName.c_str());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

} // namespace glimmerly::platform
