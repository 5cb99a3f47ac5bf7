#pragma once
// The storage of a single service: pictures and sessions in SQLite, picture bytes as JPEG files
// in the data folder. A picture file is written to a temporary name, flushed to disk and renamed
// into place (Stage) before its row is inserted, so a row never points to a missing or
// half-written file. On opening, temporary files of an interrupted upload are removed; files
// without a row and rows without a file are moved to quarantine (the folder quarantine/ and the
// table quarantined_pictures), never deleted, and a start that would quarantine more than a few
// rows is refused (see sqlite_storage_repair.cpp). One SqliteStorage owns a data folder
// exclusively (a lock file keeps a second service out). Its transactions take turns under one
// lock.

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "service/storage/storage_backend.h"

struct sqlite3;

namespace glimmerly::service {

// What Open found and repaired.
struct RepairReport {
    std::vector<std::string> temporaryFiles; // half-written uploads (file names), removed
    std::vector<std::string> orphanFiles;    // files without a row (file names), to quarantine/
    std::vector<std::string> missingFiles;   // pictures (names) without a file, rows quarantined
    std::vector<std::string> restored;       // quarantined pictures (names) whose file came back

    bool Empty() const {
        return temporaryFiles.empty() && orphanFiles.empty() && missingFiles.empty() &&
               restored.empty();
    }
};

struct SqliteOptions {
    // Quarantine the rows without a file however many there are (the operator knows the files
    // are gone); otherwise a start that finds more than a few refuses.
    bool quarantineMissing = false;
};

class SqliteStorage final : public StorageBackend {
public:
    // Opens (creating when needed) the data folder. nullptr with error set on failure.
    static std::unique_ptr<SqliteStorage> Open(const std::filesystem::path& folder,
                                               std::string& error,
                                               const SqliteOptions& options = {});
    ~SqliteStorage() override;

    void Transact(const std::function<bool(StorageTransaction&)>& work) override;
    bool Stage(NewPicture& picture) override;
    void Unstage(const NewPicture& picture) override;
    void OpenSession(std::string_view name, std::int64_t now, std::int64_t expires) override;
    std::optional<std::int64_t> SessionExpiry(std::string_view name) override;
    std::vector<StoredPicture> SessionPictures(std::string_view session,
                                               std::int64_t afterSeq) override;
    std::optional<StoredPicture> FindPicture(std::string_view name) override;
    std::optional<PictureContent> ReadPicture(std::string_view name) override;
    std::optional<std::string> CurrentName(std::string_view givenName) override;
    std::vector<StoredPicture> ChangesAfter(std::int64_t after, std::int64_t upto,
                                            int limit) override;
    std::int64_t LastChange() override;
    void WatchChanges(std::function<void(std::int64_t)> changed) override;
    std::string Describe() const override;
    // Says what Repairs() holds, counted.
    std::string DescribeRepairs() const override;
    std::int64_t PurgeSessions(std::int64_t before) override;
    // The database answers, and a file can be created in the picture folder.
    std::string CheckHealth() override;

    // Path of the stored file of a picture, checked to lie inside the data folder.
    std::optional<std::filesystem::path> PictureFile(std::string_view name);
    const std::filesystem::path& Folder() const { return folder_; }
    const RepairReport& Repairs() const { return repairs_; }

private:
    class Transaction;

    SqliteStorage() = default;
    bool Init(const std::filesystem::path& folder, std::string& error,
              const SqliteOptions& options);
    // Refuses (false, error set) before changing anything when the picture folder is not whole.
    bool Repair(const SqliteOptions& options, std::string& error);
    bool QuarantineRows(const std::vector<std::int64_t>& ids, std::string& error);
    bool PutBackRow(const std::string& token, std::uintmax_t size, std::string& name);
    bool MoveToQuarantine(const std::filesystem::path& file);

    std::filesystem::path folder_;
    std::filesystem::path pictures_;
    std::filesystem::path quarantine_;
    int lockFd_ = -1;
    sqlite3* db_ = nullptr;
    std::mutex mutex_;     // guards db_ and seq_
    std::int64_t seq_ = 0; // the change counter: the highest seq committed
    RepairReport repairs_;
};

} // namespace glimmerly::service
