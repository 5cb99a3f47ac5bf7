// The SQLite storage's pictures and sessions: the picture files, the transactions, reading.
#include "service/sqlite/sqlite_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "service/rules/names.h"
#include "service/sqlite/sqlite_statement.h"
#include "service/storage/sql_pictures.h"

namespace glimmerly::service {

namespace fs = std::filesystem;
using sqlite::Statement;
using sqlite::SyncFolder;

namespace {

// The write lock stayed with another process for the whole busy time-out.
bool IsBusy(int rc) {
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

StoredPicture PictureFromRow(Statement& s) {
    return sql::PictureFromColumns([&](int i) { return s.Int(i); },
                                   [&](int i) { return s.Text(i); });
}

// Writes bytes to folder/.tmp-token, flushes them and renames the file to folder/token.jpg.
bool WriteFileInPlace(const fs::path& folder, std::string_view bytes, const std::string& token) {
    fs::path temp = folder / (".tmp-" + token);
    fs::path final = folder / (token + ".jpg");
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
    SyncFolder(folder);
    return true;
}

} // namespace

// Runs under the storage's lock, between BEGIN and COMMIT.
class SqliteStorage::Transaction final : public StorageTransaction {
public:
    Transaction(sqlite3* db, std::int64_t seq) : db_(db), seq_(seq) {}
    std::int64_t Seq() const { return seq_; }

    bool ExtendSession(std::string_view name, std::int64_t now, std::int64_t expires) override {
        Statement s(db_, "UPDATE sessions SET expires = ? WHERE name = ? AND expires > ?");
        Done(s.Bind(1, expires).Bind(2, name).Bind(3, now).Step());
        return sqlite3_changes(db_) == 1;
    }

    std::int64_t SeriesNext(std::string_view base) override {
        Statement s(db_, "SELECT next FROM name_series WHERE base = ?");
        int rc = s.Bind(1, base).Step();
        if (rc == SQLITE_ROW) {
            return s.Int(0);
        }
        Done(rc);
        return 1;
    }

    void SetSeriesNext(std::string_view base, std::int64_t next) override {
        Statement s(db_, "INSERT INTO name_series(base, next) VALUES(?, ?) "
                         "ON CONFLICT(base) DO UPDATE SET next = excluded.next");
        Done(s.Bind(1, base).Bind(2, next).Step());
    }

    std::optional<std::int64_t> InsertIfNameFree(const NewPicture& p) override {
        // Taken first, for no picture yet: the picture's id comes with its row.
        if (!GiveName(p.name, 0)) {
            return std::nullopt;
        }
        Statement s(db_, "INSERT INTO pictures(name, file, title, session, size, width, height, "
                         "created, seq, owner) VALUES(?, ?, ?, ?, ?, ?, ?, ?, 0, ?)");
        s.Bind(1, p.name).Bind(2, p.file).Bind(3, p.title);
        if (p.session.empty()) {
            s.BindNull(4);
        } else {
            s.Bind(4, p.session);
        }
        s.Bind(5, static_cast<std::int64_t>(p.jpeg.size()))
            .Bind(6, static_cast<std::int64_t>(p.width))
            .Bind(7, static_cast<std::int64_t>(p.height))
            .Bind(8, p.created);
        if (p.owner.empty()) {
            s.BindNull(9);
        } else {
            s.Bind(9, p.owner);
        }
        Done(s.Step());
        const std::int64_t id = sqlite3_last_insert_rowid(db_);
        Statement given(db_, "UPDATE given_names SET picture = ? WHERE name = ?");
        Done(given.Bind(1, id).Bind(2, p.name).Step());
        return id;
    }

    std::optional<PictureToChange> FindForChange(std::string_view name) override {
        Statement s(db_, "SELECT id, coalesce(owner, '') FROM pictures WHERE name = ?");
        int rc = s.Bind(1, name).Step();
        if (rc == SQLITE_ROW) {
            return PictureToChange{s.Int(0), s.Text(1)};
        }
        Done(rc);
        return std::nullopt;
    }

    bool RenameIfFree(std::int64_t id, std::string_view name, std::string_view title) override {
        if (!GiveName(name, id)) {
            Statement owner(db_, "SELECT picture FROM given_names WHERE name = ?");
            if (owner.Bind(1, name).Step() != SQLITE_ROW || owner.Int(0) != id) {
                return false;
            }
        }
        Statement s(db_, "UPDATE pictures SET name = ?, title = ? WHERE id = ?");
        int rc = s.Bind(1, name).Bind(2, title).Bind(3, id).Step();
        if (rc == SQLITE_CONSTRAINT && sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE) {
            return false;
        }
        Done(rc);
        return true;
    }

    void DeletePicture(std::int64_t id) override {
        Statement file(db_, "SELECT file FROM pictures WHERE id = ?");
        if (file.Bind(1, id).Step() == SQLITE_ROW) {
            deletedFiles_.push_back(file.Text(0));
        }
        Statement keep(db_, "INSERT OR REPLACE INTO deleted_pictures(id, seq) "
                            "SELECT id, seq FROM pictures WHERE id = ?");
        Done(keep.Bind(1, id).Step());
        Statement s(db_, "DELETE FROM pictures WHERE id = ?");
        Done(s.Bind(1, id).Step());
    }
    // The files of the pictures this transaction deleted.
    const std::vector<std::string>& DeletedFiles() const { return deletedFiles_; }

    std::int64_t RecordChange(std::int64_t pictureId) override {
        Statement s(db_, "UPDATE pictures SET seq = ? WHERE id = ?");
        Done(s.Bind(1, seq_ + 1).Bind(2, pictureId).Step());
        return ++seq_;
    }

private:
    // Records name as given to picture; false when it was given out before.
    bool GiveName(std::string_view name, std::int64_t picture) {
        Statement s(db_, "INSERT INTO given_names(name, picture) VALUES(?, ?) "
                         "ON CONFLICT(name) DO NOTHING");
        Done(s.Bind(1, name).Bind(2, picture).Step());
        return sqlite3_changes(db_) == 1;
    }

    // A statement that had to run to its end.
    void Done(int rc) {
        if (IsBusy(rc)) {
            throw StoreBusy(std::string("database busy: ") + sqlite3_errmsg(db_));
        }
        if (rc != SQLITE_DONE) {
            throw StorageFailed(std::string("database statement failed: ") + sqlite3_errmsg(db_));
        }
    }

    sqlite3* db_;
    std::int64_t seq_; // the change counter, with this transaction's changes
    std::vector<std::string> deletedFiles_;
};

void SqliteStorage::Transact(const std::function<bool(StorageTransaction&)>& work) {
    std::lock_guard lock(mutex_);
    auto run = [&](const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); };
    if (run("BEGIN") != SQLITE_OK) {
        throw StorageFailed(std::string("cannot begin a transaction: ") + sqlite3_errmsg(db_));
    }
    Transaction t(db_, seq_);
    bool commit = false;
    try {
        commit = work(t);
    } catch (...) {
        run("ROLLBACK");
        throw;
    }
    if (!commit) {
        run("ROLLBACK");
        return;
    }
    if (int rc = run("COMMIT"); rc != SQLITE_OK) {
        std::string why = sqlite3_errmsg(db_);
        run("ROLLBACK");
        if (IsBusy(rc)) {
            throw StoreBusy("database busy: " + why);
        }
        throw StorageFailed("cannot commit: " + why);
    }
    seq_ = t.Seq();
    // A crash before this leaves files without a row, which the next start quarantines.
    for (const std::string& token : t.DeletedFiles()) {
        if (IsToken(token)) {
            ::unlink((pictures_ / (token + ".jpg")).c_str());
        }
    }
    if (!t.DeletedFiles().empty()) {
        SyncFolder(pictures_);
    }
}

bool SqliteStorage::Stage(NewPicture& picture) {
    picture.file = RandomToken();
    return WriteFileInPlace(pictures_, picture.jpeg, picture.file);
}

void SqliteStorage::Unstage(const NewPicture& picture) {
    if (IsToken(picture.file)) {
        ::unlink((pictures_ / (picture.file + ".jpg")).c_str());
    }
}

void SqliteStorage::OpenSession(std::string_view name, std::int64_t now, std::int64_t expires) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "INSERT INTO sessions(name, created, expires) VALUES(?, ?, ?) "
                     "ON CONFLICT(name) DO UPDATE SET expires = excluded.expires");
    // A login must not be answered "ok" for a session that was not stored.
    if (int rc = s.Bind(1, name).Bind(2, now).Bind(3, expires).Step(); rc != SQLITE_DONE) {
        if (IsBusy(rc)) {
            throw StoreBusy(std::string("database busy: ") + sqlite3_errmsg(db_));
        }
        throw StorageFailed(std::string("cannot open the session: ") + sqlite3_errmsg(db_));
    }
}

std::optional<std::int64_t> SqliteStorage::SessionExpiry(std::string_view name) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT expires FROM sessions WHERE name = ?");
    if (s.Bind(1, name).Step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return s.Int(0);
}

std::vector<StoredPicture> SqliteStorage::SessionPictures(std::string_view session,
                                                          std::int64_t afterSeq) {
    std::lock_guard lock(mutex_);
    std::string sql = std::string("SELECT ") + sql::kPictureColumns +
                      " FROM pictures WHERE session = ? AND seq > ? ORDER BY id DESC";
    Statement s(db_, sql.c_str());
    s.Bind(1, session).Bind(2, afterSeq);
    std::vector<StoredPicture> out;
    while (s.Step() == SQLITE_ROW) {
        out.push_back(PictureFromRow(s));
    }
    return out;
}

std::vector<StoredPicture> SqliteStorage::ChangesAfter(std::int64_t after, std::int64_t upto,
                                                       int limit) {
    std::lock_guard lock(mutex_);
    std::string sql = std::string("SELECT ") + sql::kPictureColumns +
                      " FROM pictures WHERE seq > ? AND seq <= ? ORDER BY seq LIMIT ?";
    Statement s(db_, sql.c_str());
    s.Bind(1, after).Bind(2, upto).Bind(3, static_cast<std::int64_t>(limit));
    std::vector<StoredPicture> out;
    while (s.Step() == SQLITE_ROW) {
        out.push_back(PictureFromRow(s));
    }
    return out;
}

std::optional<StoredPicture> SqliteStorage::FindPicture(std::string_view name) {
    std::lock_guard lock(mutex_);
    std::string sql =
        std::string("SELECT ") + sql::kPictureColumns + " FROM pictures WHERE name = ?";
    Statement s(db_, sql.c_str());
    if (s.Bind(1, name).Step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return PictureFromRow(s);
}

std::optional<std::string> SqliteStorage::CurrentName(std::string_view givenName) {
    std::lock_guard lock(mutex_);
    // Neither stored nor in quarantine: deleted.
    Statement s(db_, "SELECT coalesce(p.name, ''), p.id IS NOT NULL, q.id IS NOT NULL "
                     "FROM given_names g LEFT JOIN pictures p ON p.id = g.picture "
                     "LEFT JOIN quarantined_pictures q ON q.id = g.picture WHERE g.name = ?");
    if (s.Bind(1, givenName).Step() != SQLITE_ROW || (!s.Int(1) && s.Int(2))) {
        return std::nullopt;
    }
    return s.Text(0);
}

std::optional<fs::path> SqliteStorage::PictureFile(std::string_view name) {
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

std::optional<PictureContent> SqliteStorage::ReadPicture(std::string_view name) {
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
