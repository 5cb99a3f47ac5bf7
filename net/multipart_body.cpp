#include "net/multipart_body.h"

#include "net/http_errors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace glimmerly::net {

namespace {

std::string MakeBoundary(const std::tm& t, int ms) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%02d%02d%02d%02d%02d%02d%03d", (t.tm_mon + 1) % 100,
                  t.tm_mday % 100, (t.tm_year + 1900) % 100, t.tm_hour % 100, t.tm_min % 100,
                  t.tm_sec % 100, ms % 1000);
    return std::string("--------") + digits;
}

std::string FileError(const std::string& path, int err) {
    return "Cannot open file \"" + path + "\". " + std::strerror(err);
}

// Opens a regular file for reading and gives its descriptor and size, or throws.
#ifdef _WIN32
// Binary, not inherited; other programs may go on reading and writing it. The path is in the
// program's code page, as the system's ANSI calls take it.
int OpenForSending(const std::string& path, std::int64_t& size) {
    const int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        throw std::runtime_error(FileError(path, errno));
    }
    struct _stat64 st {};
    if (::_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        const int err = (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : (errno ? errno : EINVAL);
        ::_close(fd);
        throw std::runtime_error(FileError(path, err));
    }
    size = st.st_size;
    return fd;
}

void CloseFile(int fd) {
    ::_close(fd);
}

// The parts are read one after the other and each has a descriptor of its own, so a seek and a
// read stand in for pread().
long ReadAt(int fd, char* buffer, std::size_t n, std::int64_t offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) {
        return -1;
    }
    return ::_read(fd, buffer, unsigned(std::min<std::size_t>(n, 1u << 30)));
}
#else
int OpenForSending(const std::string& path, std::int64_t& size) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throw std::runtime_error(FileError(path, errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : (errno ? errno : EINVAL);
        ::close(fd);
        throw std::runtime_error(FileError(path, err));
    }
    size = st.st_size;
    return fd;
}

void CloseFile(int fd) {
    ::close(fd);
}

long ReadAt(int fd, char* buffer, std::size_t n, std::int64_t offset) {
    return long(::pread(fd, buffer, n, offset));
}
#endif

void LocalTime(std::time_t secs, std::tm& local) {
#ifdef _WIN32
    ::localtime_s(&local, &secs);
#else
    ::localtime_r(&secs, &local);
#endif
}

} // namespace

MultipartBody::MultipartBody() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    LocalTime(secs, local);
    boundary_ = MakeBoundary(local, ms);
}

MultipartBody::MultipartBody(const std::tm& localTime, int milliseconds)
    : boundary_(MakeBoundary(localTime, milliseconds)) {}

MultipartBody::~MultipartBody() {
    for (Part& part : parts_) {
        if (part.fd >= 0) {
            CloseFile(part.fd);
        }
    }
}

void MultipartBody::AddField(const std::string& name, const std::string& value) {
    Part part;
    part.text = "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + name +
                "\"\r\n\r\n" + value + "\r\n";
    size_ += std::int64_t(part.text.size());
    parts_.push_back(std::move(part));
}

void MultipartBody::AddFilePart(const std::string& name, const std::string& path,
                                const std::string& contentType) {
    std::int64_t fileSize = 0;
    const int fd = OpenForSending(path, fileSize);
    Part part;
    part.text = "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + name +
                "\"; filename=\"" + path + "\"\r\nContent-Type: " + contentType +
                "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
    part.fd = fd;
    part.fileSize = fileSize;
    size_ += std::int64_t(part.text.size()) + part.fileSize + 2;
    parts_.push_back(std::move(part));
}

std::string MultipartBody::ContentTypeValue() const {
    return "multipart/form-data; boundary=" + boundary_;
}

std::size_t MultipartBody::Read(char* buffer, std::size_t n) {
    if (!started_) {
        started_ = true;
        index_ = 0;
        pending_.clear();
        pendingPos_ = 0;
        copying_ = false;
    }
    std::size_t delivered = 0;
    while (delivered < n) {
        const bool pendingEmpty = pendingPos_ >= pending_.size();
        if (index_ >= parts_.size() + 1 && pendingEmpty) {
            break; // every part and the closing delimiter are out
        }
        if (pendingEmpty && !copying_ && index_ < parts_.size()) {
            const Part& part = parts_[index_];
            pending_ = part.text;
            pendingPos_ = 0;
            if (part.fd >= 0) {
                copying_ = true;
                fileOffset_ = 0;
            } else {
                ++index_;
            }
        }
        if (pendingPos_ < pending_.size()) {
            const std::size_t take = std::min(n - delivered, pending_.size() - pendingPos_);
            std::memcpy(buffer + delivered, pending_.data() + pendingPos_, take);
            pendingPos_ += take;
            delivered += take;
        }
        if (copying_ && delivered < n) {
            // Never more than the size counted when the part was added: the body stays exactly
            // as long as it said, even if someone appends to the file meanwhile.
            const std::size_t asked = n - delivered;
            const Part& part = parts_[index_];
            const std::int64_t left = part.fileSize - fileOffset_;
            const std::size_t want = std::size_t(std::min<std::int64_t>(left, asked));
            std::size_t got = 0;
            while (got < want) {
                const long r =
                    ReadAt(part.fd, buffer + delivered + got, want - got, fileOffset_ + got);
                if (r < 0 && errno == EINTR) {
                    continue;
                }
                if (r <= 0) {
                    break;
                }
                got += std::size_t(r);
            }
            fileOffset_ += std::int64_t(got);
            delivered += got;
            if (got < asked) {
                // The file delivered fewer bytes than wanted: it is done.
                copying_ = false;
                fileOffset_ = 0;
                ++index_;
                pending_ = "\r\n";
                pendingPos_ = 0;
            }
        }
        if (index_ == parts_.size()) {
            pending_ = pending_.substr(pendingPos_) + ClosingDelimiter();
            pendingPos_ = 0;
            ++index_;
        }
    }
    position_ += std::int64_t(delivered);
    return delivered;
}

std::int64_t MultipartBody::Seek(std::int64_t offset, int origin) {
    if (origin == 0 && offset == 0) {
        position_ = 0;
        started_ = false;
        return 0;
    }
    if (origin == 2) {
        return TotalSize();
    }
    return position_;
}

void MultipartBody::Write(const char*, std::size_t) {
    throw HttpError("Unsupported operation.");
}

} // namespace glimmerly::net
