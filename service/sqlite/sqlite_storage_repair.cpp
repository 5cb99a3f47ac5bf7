// The start-up repair of the SQLite store. Uploads write their file before their row, so a crash
// leaves only temporary files and files without a row (never confirmed to a client). A row
// without its file does not come from a crash: the files were deleted, or the picture folder is
// not all there (a volume not mounted, a restore not finished). So mismatches are moved aside,
// never deleted: files to quarantine/, rows to the table quarantined_pictures, from where a row
// goes back by itself when its file turns up again. When more rows lack their file than a few
// lost by hand would explain, the start is refused before anything is changed.
#include "service/sqlite/sqlite_storage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>

#include "service/rules/names.h"
#include "service/sqlite/sqlite_statement.h"

namespace glimmerly::service {

namespace fs = std::filesystem;
using namespace sqlite;

namespace {

// Rows without a file that a start repairs on its own: up to five, or up to one in a hundred in
// a larger store. Single files lost by hand stay below that; a folder that is missing, empty or
// half restored lies far above it, however small the store.
std::size_t MissingLimit(std::size_t rows) {
    return std::max<std::size_t>(5, rows / 100);
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Copies a file and flushes the copy (for a quarantine folder on another file system).
bool CopyFlushed(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (!fs::copy_file(from, to, ec)) {
        return false;
    }
    int fd = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!ok) {
        fs::remove(to, ec);
    }
    return ok;
}

} // namespace

bool SqliteStorage::Repair(const SqliteOptions& options, std::string& error) {
    std::error_code ec;
    const bool folderThere = fs::is_directory(pictures_, ec);
    std::set<std::string> present;
    std::vector<std::int64_t> missingIds;
    std::vector<std::string> missingNames;
    std::size_t rows = 0;
    {
        Statement s(db_, "SELECT id, file, name FROM pictures");
        while (s.Step() == SQLITE_ROW) {
            ++rows;
            std::string token = s.Text(1);
            if (folderThere && IsToken(token) &&
                fs::is_regular_file(pictures_ / (token + ".jpg"), ec)) {
                present.insert(token);
            } else {
                missingIds.push_back(s.Int(0));
                missingNames.push_back(s.Text(2));
            }
        }
    }
    if (!options.quarantineMissing) {
        if (!folderThere && rows > 0) {
            error = "the picture folder " + pictures_.string() + " is missing, but the database " +
                    "lists " + std::to_string(rows) +
                    " picture(s) (a volume not mounted, a restore not finished?); refusing to "
                    "start so that nothing is changed. Put the folder back and start again";
            return false;
        }
        if (missingIds.size() > MissingLimit(rows)) {
            error = std::to_string(missingIds.size()) + " of " + std::to_string(rows) +
                    " pictures have no file in " + pictures_.string() +
                    " (a volume not mounted, a restore not finished?); refusing to start so "
                    "that nothing is changed. Put the files back and start again, or, if they "
                    "are gone for good, start once with --quarantine-missing to move their "
                    "entries to quarantine";
            return false;
        }
    }
    if (!folderThere) {
        fs::create_directories(pictures_, ec);
        if (ec) {
            error = "cannot create " + pictures_.string() + ": " + ec.message();
            return false;
        }
    }
    if (!missingIds.empty()) {
        if (!QuarantineRows(missingIds, error)) {
            return false;
        }
        repairs_.missingFiles = missingNames;
    }

    std::vector<fs::path> entries; // read first: the loop below moves files out
    for (const fs::directory_entry& entry : fs::directory_iterator(pictures_, ec)) {
        entries.push_back(entry.path());
    }
    bool changed = false;
    for (const fs::path& path : entries) {
        std::string leaf = path.filename().string();
        if (leaf.rfind(".tmp-", 0) == 0) {
            fs::remove(path, ec);
            repairs_.temporaryFiles.push_back(leaf);
            changed = true;
        } else if (path.extension() == ".jpg" && !present.count(path.stem().string())) {
            std::string name;
            std::uintmax_t size = fs::file_size(path, ec);
            if (!ec && PutBackRow(path.stem().string(), size, name)) {
                repairs_.restored.push_back(name);
            } else if (MoveToQuarantine(path)) {
                repairs_.orphanFiles.push_back(leaf);
                changed = true;
            }
        }
    }
    if (changed) {
        SyncFolder(pictures_);
    }
    return true;
}

bool SqliteStorage::QuarantineRows(const std::vector<std::int64_t>& ids, std::string& error) {
    auto run = [&](const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); };
    bool ok = run("BEGIN") == SQLITE_OK;
    const std::int64_t now = NowMs();
    for (std::size_t i = 0; ok && i < ids.size(); ++i) {
        Statement keep(db_, "INSERT INTO quarantined_pictures(id, name, file, title, session, "
                            "size, width, height, created, seq, owner, quarantined, reason) "
                            "SELECT id, name, file, title, session, size, width, height, "
                            "created, seq, owner, ?, 'file missing' FROM pictures WHERE id = ?");
        Statement drop(db_, "DELETE FROM pictures WHERE id = ?");
        ok = keep.Bind(1, now).Bind(2, ids[i]).Step() == SQLITE_DONE &&
             drop.Bind(1, ids[i]).Step() == SQLITE_DONE;
    }
    if (!ok || run("COMMIT") != SQLITE_OK) {
        error = std::string("cannot move rows to quarantine: ") + sqlite3_errmsg(db_);
        run("ROLLBACK");
        return false;
    }
    return true;
}

// Puts a quarantined row back when the file it names turned up again with the size it had (its
// name stayed given to it meanwhile).
bool SqliteStorage::PutBackRow(const std::string& token, std::uintmax_t size, std::string& name) {
    std::int64_t id = 0;
    std::string found;
    {
        Statement find(db_,
                       "SELECT id, name FROM quarantined_pictures WHERE file = ? AND size = ?");
        if (!IsToken(token) ||
            find.Bind(1, token).Bind(2, static_cast<std::int64_t>(size)).Step() != SQLITE_ROW) {
            return false;
        }
        id = find.Int(0);
        found = find.Text(1);
    }
    auto run = [&](const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); };
    if (run("BEGIN") != SQLITE_OK) {
        return false;
    }
    Statement back(db_, "INSERT OR IGNORE INTO pictures(id, name, file, title, session, size, "
                        "width, height, created, seq, owner) SELECT id, name, file, title, "
                        "session, size, width, height, created, seq, owner "
                        "FROM quarantined_pictures WHERE id = ?");
    bool ok = back.Bind(1, id).Step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
    Statement drop(db_, "DELETE FROM quarantined_pictures WHERE id = ?");
    ok = ok && drop.Bind(1, id).Step() == SQLITE_DONE;
    if (!ok || run("COMMIT") != SQLITE_OK) {
        run("ROLLBACK");
        return false;
    }
    name = found;
    return true;
}

// Moves a file into quarantine/ under its own name (a number added when that is taken); the file
// stays where it is when it cannot be moved.
bool SqliteStorage::MoveToQuarantine(const fs::path& file) {
    std::error_code ec;
    fs::create_directories(quarantine_, ec);
    fs::path target = quarantine_ / file.filename();
    for (int n = 2; fs::exists(target, ec); ++n) {
        target = quarantine_ / (file.filename().string() + "." + std::to_string(n));
    }
    if (::rename(file.c_str(), target.c_str()) != 0) {
        if (errno != EXDEV || !CopyFlushed(file, target)) {
            return false;
        }
        fs::remove(file, ec);
    }
    SyncFolder(quarantine_);
    return true;
}

std::string SqliteStorage::DescribeRepairs() const {
    if (repairs_.Empty()) {
        return {};
    }
    return "repaired the data folder: removed " + std::to_string(repairs_.temporaryFiles.size()) +
           " unfinished upload(s); moved " + std::to_string(repairs_.orphanFiles.size()) +
           " file(s) without entry to " + quarantine_.string() + ", " +
           std::to_string(repairs_.missingFiles.size()) +
           " entry/entries without file to the table quarantined_pictures; put back " +
           std::to_string(repairs_.restored.size()) +
           " quarantined picture(s) whose file turned up again";
}

} // namespace glimmerly::service
