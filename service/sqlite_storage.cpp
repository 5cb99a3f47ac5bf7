#include "service/sqlite_storage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include <sqlite3.h>

#include "service/sqlite_internal.h"

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
CREATE INDEX IF NOT EXISTS pictures_by_seq ON pictures(seq);
)sql";

} // namespace

std::unique_ptr<SqliteStorage> SqliteStorage::Open(const fs::path& folder, std::string& error) {
    std::unique_ptr<SqliteStorage> storage(new SqliteStorage());
    if (!storage->Init(folder, error)) {
        return nullptr;
    }
    return storage;
}

bool SqliteStorage::Init(const fs::path& folder, std::string& error) {
    std::error_code ec;
    folder_ = fs::absolute(folder, ec);
    pictures_ = folder_ / "pictures";
    fs::create_directories(pictures_, ec);
    if (ec) {
        error = "cannot create " + pictures_.string() + ": " + ec.message();
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
    if (sqlite3_open_v2(dbPath.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = "cannot open " + dbPath.string() + ": " + (db_ ? sqlite3_errmsg(db_) : "?");
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    char* message = nullptr;
    if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr,
                     &message) != SQLITE_OK ||
        sqlite3_exec(db_, kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
        error = "cannot set up " + dbPath.string() + ": " + (message ? message : "?");
        sqlite3_free(message);
        return false;
    }
    Statement max(db_, "SELECT coalesce(max(seq), 0) FROM pictures");
    if (max.Step() == SQLITE_ROW) {
        seq_ = max.Int(0);
    }
    Repair();
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

void SqliteStorage::Repair() {
    std::set<std::string> files;
    std::vector<std::pair<std::int64_t, std::string>> missing;
    {
        Statement s(db_, "SELECT id, file, name FROM pictures");
        while (s.Step() == SQLITE_ROW) {
            std::string token = s.Text(1);
            std::error_code ec;
            if (IsToken(token) && fs::is_regular_file(pictures_ / (token + ".jpg"), ec)) {
                files.insert(token);
            } else {
                missing.emplace_back(s.Int(0), s.Text(2));
            }
        }
    }
    for (const auto& [id, name] : missing) {
        Statement del(db_, "DELETE FROM pictures WHERE id = ?");
        del.Bind(1, id).Step();
        repairs_.missingFiles.push_back(name);
    }
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(pictures_, ec)) {
        std::string leaf = entry.path().filename().string();
        if (leaf.rfind(".tmp-", 0) == 0) {
            fs::remove(entry.path(), ec);
            repairs_.temporaryFiles.push_back(leaf);
        } else if (entry.path().extension() == ".jpg" &&
                   !files.count(entry.path().stem().string())) {
            fs::remove(entry.path(), ec);
            repairs_.orphanFiles.push_back(leaf);
        }
    }
    if (!repairs_.orphanFiles.empty() || !repairs_.temporaryFiles.empty()) {
        SyncFolder(pictures_);
    }
}

std::string SqliteStorage::Describe() const {
    return "data " + folder_.string();
}

std::int64_t SqliteStorage::LastChange() {
    std::lock_guard lock(mutex_);
    return seq_;
}

// Only this process writes to the data folder: there are no changes of others to watch.
void SqliteStorage::WatchChanges(std::function<void(std::int64_t)> changed) {
    changed(LastChange());
}

} // namespace glimmerly::service
