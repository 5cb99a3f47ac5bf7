#pragma once
// The store of a single service: pictures and sessions in SQLite, picture bytes as JPEG files in
// the data folder. A picture file is written to a temporary name, flushed to disk and renamed
// into place before its row is inserted, so a row never points to a missing or half-written
// file; on opening, leftovers of an interrupted upload (temporary files, files without a row) are
// removed. One SqliteStore owns a data folder exclusively (a lock file keeps a second service
// out).

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "service/store.h"

struct sqlite3;

namespace glimmerly::service {

// What Open found and cleaned up.
struct RepairReport {
    int temporaryFiles = 0; // half-written uploads removed
    int orphanFiles = 0;    // complete files whose row was never written, removed
    int missingFiles = 0;   // rows whose file had vanished, removed
};

class SqliteStore final : public Store {
public:
    // Opens (creating when needed) the data folder. nullptr with error set on failure.
    static std::unique_ptr<SqliteStore> Open(const std::filesystem::path& folder,
                                             std::string& error, Now now = Clock::now);
    ~SqliteStore() override;

    UploadResult AddPicture(std::string_view jpeg, JpegSize size, std::string_view typedName,
                            std::string_view session, std::chrono::milliseconds ttl) override;
    RenameStatus Rename(std::string_view current, std::string_view typedName,
                        std::string& newName) override;
    void OpenSession(std::string_view name, std::chrono::milliseconds ttl) override;
    SessionState GetSession(std::string_view name) override;
    std::vector<StoredPicture> SessionPictures(std::string_view session,
                                               std::int64_t afterSeq = 0) override;
    std::optional<StoredPicture> FindPicture(std::string_view name) override;
    std::optional<PictureContent> ReadPicture(std::string_view name) override;
    std::int64_t LastSeq() override;
    std::int64_t WaitForChange(std::int64_t seen, std::chrono::milliseconds timeout) override;
    void Shutdown() override;
    bool ShuttingDown() override;
    std::string Describe() const override;

    // Path of the stored file of a picture, checked to lie inside the data folder.
    std::optional<std::filesystem::path> PictureFile(std::string_view name);
    const std::filesystem::path& Folder() const { return folder_; }
    const RepairReport& Repairs() const { return repairs_; }

private:
    SqliteStore() = default;
    bool Init(const std::filesystem::path& folder, std::string& error);
    bool WriteFile(std::string_view bytes, const std::string& token);
    void RemoveFile(const std::string& token);
    bool NameTaken(const std::string& name);
    void Repair();
    std::int64_t NowMs() const; // Unix time in milliseconds

    Now now_;

    std::filesystem::path folder_;
    std::filesystem::path pictures_;
    int lockFd_ = -1;
    sqlite3* db_ = nullptr;
    std::mutex mutex_; // guards db_, seq_, stopping_
    std::condition_variable changed_;
    std::int64_t seq_ = 0;
    bool stopping_ = false;
    RepairReport repairs_;
};

} // namespace glimmerly::service
