// The SQLite store's pictures and sessions: adding, renaming, finding and reading.
#include "service/sqlite_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "service/names.h"
#include "service/sqlite_internal.h"
#include "text/cp1252.h"

namespace glimmerly::service {

namespace fs = std::filesystem;
using sqlite::IsToken;
using sqlite::Statement;
using sqlite::SyncFolder;

namespace {

constexpr const char* kPictureColumns =
    "id, name, title, coalesce(session, ''), size, width, height, created, seq";

StoredPicture PictureFromRow(Statement& s) {
    StoredPicture p;
    p.id = s.Int(0);
    p.name = s.Text(1);
    p.title = s.Text(2);
    p.session = s.Text(3);
    p.size = s.Int(4);
    p.width = static_cast<int>(s.Int(5));
    p.height = static_cast<int>(s.Int(6));
    p.created = s.Int(7);
    p.seq = s.Int(8);
    return p;
}

} // namespace

bool SqliteStore::WriteFile(std::string_view bytes, const std::string& token) {
    fs::path temp = pictures_ / (".tmp-" + token);
    fs::path final = pictures_ / (token + ".jpg");
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return false;
    }
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), final.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(pictures_);
    return true;
}

void SqliteStore::RemoveFile(const std::string& token) {
    ::unlink((pictures_ / (token + ".jpg")).c_str());
}

bool SqliteStore::NameTaken(const std::string& name) {
    Statement s(db_, "SELECT 1 FROM pictures WHERE name = ?");
    return s.Bind(1, name).Step() == SQLITE_ROW;
}

SqliteStore::UploadResult SqliteStore::AddPicture(std::string_view jpeg, JpegSize size,
                                                  std::string_view typedName,
                                                  std::string_view session,
                                                  std::chrono::milliseconds ttl) {
    UploadResult result;
    if (!session.empty() && GetSession(session) != SessionState::Active) {
        result.status = UploadStatus::WrongSession;
        return result;
    }
    std::string token = RandomToken();
    if (!WriteFile(jpeg, token)) {
        return result;
    }
    std::lock_guard lock(mutex_);
    std::int64_t now = NowMs();
    if (!session.empty()) {
        // Checked again under the lock: the session may have run out while the file was written.
        Statement extend(db_, "UPDATE sessions SET expires = ? WHERE name = ? AND expires > ?");
        extend.Bind(1, now + ttl.count()).Bind(2, session).Bind(3, now).Step();
        if (sqlite3_changes(db_) != 1) {
            RemoveFile(token);
            result.status = UploadStatus::WrongSession;
            return result;
        }
    }
    std::string base = MakePictureName(typedName);
    std::string name;
    if (base.empty()) {
        do {
            name = RandomPictureName();
        } while (NameTaken(name));
    } else {
        name = base;
        for (int n = 2; NameTaken(name); ++n) {
            name = base + "-" + std::to_string(n);
        }
    }
    std::string title = typedName.empty() ? name : cp1252::ToUtf8(typedName);
    Statement insert(db_, "INSERT INTO pictures(name, file, title, session, size, width, height, "
                          "created, seq) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(1, name).Bind(2, token).Bind(3, title);
    if (session.empty()) {
        insert.BindNull(4);
    } else {
        insert.Bind(4, session);
    }
    insert.Bind(5, static_cast<std::int64_t>(jpeg.size()))
        .Bind(6, static_cast<std::int64_t>(size.width))
        .Bind(7, static_cast<std::int64_t>(size.height))
        .Bind(8, now)
        .Bind(9, seq_ + 1);
    if (insert.Step() != SQLITE_DONE) {
        RemoveFile(token);
        return result;
    }
    ++seq_;
    changed_.notify_all();
    result.status = UploadStatus::Stored;
    result.name = name;
    return result;
}

SqliteStore::RenameStatus SqliteStore::Rename(std::string_view current, std::string_view typedName,
                                              std::string& newName) {
    std::string name = MakePictureName(typedName);
    if (typedName.size() > kMaxTypedNameLength) {
        name.clear();
    }
    std::lock_guard lock(mutex_);
    Statement find(db_, "SELECT id FROM pictures WHERE name = ?");
    if (!IsPictureName(current) || find.Bind(1, current).Step() != SQLITE_ROW) {
        return RenameStatus::UnknownPicture;
    }
    std::int64_t id = find.Int(0);
    if (name.empty()) {
        return RenameStatus::InvalidName;
    }
    if (name != current && NameTaken(name)) {
        return RenameStatus::NameTaken;
    }
    Statement update(db_, "UPDATE pictures SET name = ?, title = ?, seq = ? WHERE id = ?");
    update.Bind(1, name).Bind(2, cp1252::ToUtf8(typedName)).Bind(3, seq_ + 1).Bind(4, id);
    if (update.Step() != SQLITE_DONE) {
        return RenameStatus::NameTaken; // lost a race for the UNIQUE name
    }
    ++seq_;
    changed_.notify_all();
    newName = name;
    return RenameStatus::Renamed;
}

void SqliteStore::OpenSession(std::string_view name, std::chrono::milliseconds ttl) {
    std::lock_guard lock(mutex_);
    std::int64_t now = NowMs();
    Statement s(db_, "INSERT INTO sessions(name, created, expires) VALUES(?, ?, ?) "
                     "ON CONFLICT(name) DO UPDATE SET expires = excluded.expires");
    s.Bind(1, name).Bind(2, now).Bind(3, now + ttl.count()).Step();
}

SqliteStore::SessionState SqliteStore::GetSession(std::string_view name) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT expires FROM sessions WHERE name = ?");
    if (s.Bind(1, name).Step() != SQLITE_ROW) {
        return SessionState::Unknown;
    }
    return s.Int(0) > NowMs() ? SessionState::Active : SessionState::Expired;
}

std::vector<StoredPicture> SqliteStore::SessionPictures(std::string_view session,
                                                        std::int64_t afterSeq) {
    std::lock_guard lock(mutex_);
    std::string sql = std::string("SELECT ") + kPictureColumns +
                      " FROM pictures WHERE session = ? AND seq > ? ORDER BY id DESC";
    Statement s(db_, sql.c_str());
    s.Bind(1, session).Bind(2, afterSeq);
    std::vector<StoredPicture> out;
    while (s.Step() == SQLITE_ROW) {
        out.push_back(PictureFromRow(s));
    }
    return out;
}

std::optional<StoredPicture> SqliteStore::FindPicture(std::string_view name) {
    if (!IsPictureName(name)) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    std::string sql = std::string("SELECT ") + kPictureColumns + " FROM pictures WHERE name = ?";
    Statement s(db_, sql.c_str());
    if (s.Bind(1, name).Step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return PictureFromRow(s);
}

std::optional<fs::path> SqliteStore::PictureFile(std::string_view name) {
    if (!IsPictureName(name)) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT file FROM pictures WHERE name = ?");
    if (s.Bind(1, name).Step() != SQLITE_ROW) {
        return std::nullopt;
    }
    std::string token = s.Text(0);
    if (!IsToken(token)) {
        return std::nullopt;
    }
    return pictures_ / (token + ".jpg");
}

std::optional<PictureContent> SqliteStore::ReadPicture(std::string_view name) {
    std::optional<fs::path> file = PictureFile(name);
    if (!file) {
        return std::nullopt;
    }
    int fd = ::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return std::nullopt;
    }
    PictureContent content;
    content.fd = fd;
    content.fileSize = static_cast<std::uint64_t>(info.st_size);
    return content;
}

} // namespace glimmerly::service
