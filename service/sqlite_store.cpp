#include "service/sqlite_store.h"

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
using sqlite::IsToken;
using sqlite::Statement;
using sqlite::SyncFolder;

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
)sql";

} // namespace

std::unique_ptr<SqliteStore> SqliteStore::Open(const fs::path& folder, std::string& error,
                                               Now now) {
    std::unique_ptr<SqliteStore> store(new SqliteStore());
    store->now_ = std::move(now);
    if (!store->Init(folder, error)) {
        return nullptr;
    }
    return store;
}

std::int64_t SqliteStore::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now_().time_since_epoch()).count();
}

bool SqliteStore::Init(const fs::path& folder, std::string& error) {
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

SqliteStore::~SqliteStore() {
    if (db_) {
        sqlite3_close_v2(db_);
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_); // releases the lock
    }
}

void SqliteStore::Repair() {
    std::set<std::string> files;
    std::vector<std::int64_t> missing;
    {
        Statement s(db_, "SELECT id, file FROM pictures");
        while (s.Step() == SQLITE_ROW) {
            std::string token = s.Text(1);
            std::error_code ec;
            if (IsToken(token) && fs::is_regular_file(pictures_ / (token + ".jpg"), ec)) {
                files.insert(token);
            } else {
                missing.push_back(s.Int(0));
            }
        }
    }
    for (std::int64_t id : missing) {
        Statement del(db_, "DELETE FROM pictures WHERE id = ?");
        del.Bind(1, id).Step();
        ++repairs_.missingFiles;
    }
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(pictures_, ec)) {
        std::string leaf = entry.path().filename().string();
        if (leaf.rfind(".tmp-", 0) == 0) {
            fs::remove(entry.path(), ec);
            ++repairs_.temporaryFiles;
        } else if (entry.path().extension() == ".jpg" &&
                   !files.count(entry.path().stem().string())) {
            fs::remove(entry.path(), ec);
            ++repairs_.orphanFiles;
        }
    }
    if (repairs_.orphanFiles || repairs_.temporaryFiles) {
        SyncFolder(pictures_);
    }
}

std::string SqliteStore::Describe() const {
    return "data " + folder_.string();
}

std::int64_t SqliteStore::LastSeq() {
    std::lock_guard lock(mutex_);
    return seq_;
}

std::int64_t SqliteStore::WaitForChange(std::int64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return stopping_ || seq_ > seen; });
    return seq_;
}

void SqliteStore::Shutdown() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

bool SqliteStore::ShuttingDown() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

} // namespace glimmerly::service
