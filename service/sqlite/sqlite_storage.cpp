#include "service/sqlite/sqlite_storage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include <sqlite3.h>

#include "service/sqlite/sqlite_statement.h"

namespace glimmerly::service {

namespace fs = std::filesystem;
using namespace sqlite; // Statement and the checks on the picture files

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS sessions(
    name    TEXT PRIMARY KEY,
    created INTEGER NOT NULL,
    expires INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS pictures(
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    name    TEXT NOT NULL UNIQUE,
    file    TEXT NOT NULL UNIQUE,
    title   TEXT NOT NULL,
    session TEXT,
    size    INTEGER NOT NULL,
    width   INTEGER NOT NULL,
    height  INTEGER NOT NULL,
    created INTEGER NOT NULL,
    seq     INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS pictures_by_session ON pictures(session, seq);
CREATE TABLE IF NOT EXISTS quarantined_pictures(
    id          INTEGER PRIMARY KEY,
    name        TEXT NOT NULL,
    file        TEXT NOT NULL,
    title       TEXT NOT NULL,
    session     TEXT,
    size        INTEGER NOT NULL,
    width       INTEGER NOT NULL,
    height      INTEGER NOT NULL,
    created     INTEGER NOT NULL,
    seq         INTEGER NOT NULL,
    quarantined INTEGER NOT NULL,
    reason      TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS quarantined_by_file ON quarantined_pictures(file);
CREATE INDEX IF NOT EXISTS pictures_by_seq ON pictures(seq);
)sql";

// Step n brings a data folder's database from schema version n (PRAGMA user_version) to n + 1.
// Never change a step that has shipped; append a new one instead.
constexpr const char* kSteps[] = {
    // Owners of pictures, and every name ever given out (to the picture it was given to), which
    // is never given to another; existing names are given to their pictures. The counters say
    // where a series of names goes on.
    R"sql(
ALTER TABLE pictures ADD COLUMN owner TEXT;
ALTER TABLE quarantined_pictures ADD COLUMN owner TEXT;
CREATE TABLE given_names(
    name    TEXT PRIMARY KEY,
    picture INTEGER NOT NULL
) WITHOUT ROWID;
INSERT OR IGNORE INTO given_names SELECT name, id FROM pictures;
INSERT OR IGNORE INTO given_names SELECT name, id FROM quarantined_pictures;
CREATE TABLE name_series(
    base TEXT PRIMARY KEY,
    next INTEGER NOT NULL
) WITHOUT ROWID;
-- Deleted pictures' last changes: the change counter never goes back below them.
CREATE TABLE deleted_pictures(
    id  INTEGER PRIMARY KEY,
    seq INTEGER NOT NULL
);
)sql",
};
constexpr int kSchemaVersion = static_cast<int>(std::size(kSteps));

// Brings the database up to kSchemaVersion, each step in a transaction of its own.
bool Upgrade(sqlite3* db, std::string& error) {
    Statement read(db, "PRAGMA user_version");
    int version = read.Step() == SQLITE_ROW ? static_cast<int>(read.Int(0)) : 0;
    if (version > kSchemaVersion) {
        error = "schema version " + std::to_string(version) + ", but this glimmerly-service " +
                "knows only up to " + std::to_string(kSchemaVersion) +
                "; this program is too old for it";
        return false;
    }
    for (; version < kSchemaVersion; ++version) {
        std::string script = std::string("BEGIN IMMEDIATE;") + kSteps[version] +
                             "PRAGMA user_version = " + std::to_string(version + 1) + "; COMMIT;";
        char* message = nullptr;
        if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            error = std::string("cannot upgrade the schema: ") + (message ? message : "?");
            sqlite3_free(message);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
    }
    return true;
}

// The picture files in a folder (none when it is missing).
std::size_t PictureFilesIn(const fs::path& folder) {
    std::size_t n = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        n += it->path().extension() == ".jpg" ? 1 : 0;
    }
    return n;
}

} // namespace

std::unique_ptr<SqliteStorage> SqliteStorage::Open(const fs::path& folder, std::string& error,
                                                   const SqliteOptions& options) {
    std::unique_ptr<SqliteStorage> storage(new SqliteStorage());
    if (!storage->Init(folder, error, options)) {
        return nullptr;
    }
    return storage;
}

bool SqliteStorage::Init(const fs::path& folder, std::string& error, const SqliteOptions& options) {
    std::error_code ec;
    folder_ = fs::absolute(folder, ec);
    pictures_ = folder_ / "pictures";
    quarantine_ = folder_ / "quarantine";
    // The picture folder is made by the repair, which first checks that none is missing.
    fs::create_directories(folder_, ec);
    if (ec) {
        error = "cannot create " + folder_.string() + ": " + ec.message();
        return false;
    }
    fs::path lockPath = folder_ / "lock";
    lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) {
        error = "cannot open " + lockPath.string() + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        error = "data folder " + folder_.string() + " is in use by another glimmerly-service";
        return false;
    }
    fs::path dbPath = folder_ / "glimmerly.db";
    if (std::size_t files = PictureFilesIn(pictures_); files > 0 && !fs::exists(dbPath, ec)) {
        error = dbPath.string() + " is missing, but " + pictures_.string() + " holds " +
                std::to_string(files) +
                " picture file(s) (a restore without its database?); refusing to start so that "
                "nothing is changed. Put the database back (see the README on restoring), or "
                "move the picture folder away to start with an empty store";
        return false;
    }
    if (sqlite3_open_v2(dbPath.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = "cannot open " + dbPath.string() + ": " + (db_ ? sqlite3_errmsg(db_) : "?");
        return false;
    }
    // Another process holding the database's write lock (a shell, a tool) is waited for only
    // this long; the request is then answered 503 (StoreBusy) instead of hanging with the lock.
    sqlite3_busy_timeout(db_, 2000);
    char* message = nullptr;
    if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr,
                     &message) != SQLITE_OK ||
        sqlite3_exec(db_, kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
        error = "cannot set up " + dbPath.string() + ": " + (message ? message : "?");
        sqlite3_free(message);
        return false;
    }
    if (!Upgrade(db_, error)) {
        error = dbPath.string() + ": " + error;
        return false;
    }
    if (!Repair(options, error)) {
        return false;
    }
    // Quarantined and deleted rows count too: their changes may have been seen by a page already.
    Statement max(db_, "SELECT max(coalesce((SELECT max(seq) FROM pictures), 0), "
                       "coalesce((SELECT max(seq) FROM quarantined_pictures), 0), "
                       "coalesce((SELECT max(seq) FROM deleted_pictures), 0))");
    if (max.Step() == SQLITE_ROW) {
        seq_ = max.Int(0);
    }
    return true;
}

SqliteStorage::~SqliteStorage() {
    if (db_) {
        sqlite3_close_v2(db_);
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_); // releases the lock
    }
}

std::string SqliteStorage::Describe() const {
    return "data " + folder_.string();
}

std::int64_t SqliteStorage::LastChange() {
    std::lock_guard lock(mutex_);
    return seq_;
}

std::int64_t SqliteStorage::PurgeSessions(std::int64_t before) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "DELETE FROM sessions WHERE expires < ?");
    if (s.Bind(1, before).Step() != SQLITE_DONE) {
        throw StorageFailed(std::string("purging sessions: ") + sqlite3_errmsg(db_));
    }
    return sqlite3_changes(db_);
}

std::string SqliteStorage::CheckHealth() {
    {
        std::lock_guard lock(mutex_);
        Statement s(db_, "SELECT count(*) FROM sessions");
        if (s.Step() != SQLITE_ROW) {
            return std::string("database: ") + sqlite3_errmsg(db_);
        }
    }
    // A temporary file's name: should the service die before removing it, the next start does.
    fs::path probe = pictures_ / (".tmp-health-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(::gettid()));
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return "picture folder " + pictures_.string() + ": " + std::strerror(errno);
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

// Only this process writes to the data folder: there are no changes of others to watch.
void SqliteStorage::WatchChanges(std::function<void(std::int64_t)> changed) {
    changed(LastChange());
}

} // namespace glimmerly::service
