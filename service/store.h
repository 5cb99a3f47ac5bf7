#pragma once
// The service's storage: pictures and sessions in SQLite, picture bytes as JPEG files in the
// data folder. A picture file is written to a temporary name, flushed to disk and renamed into
// place before its row is inserted, so a row never points to a missing or half-written file; on
// opening, leftovers of an interrupted upload (temporary files, files without a row) are removed.
// One Store owns a data folder exclusively (a lock file keeps a second service out).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/jpeg_check.h"

struct sqlite3;

namespace glimmerly::service {

struct StoredPicture {
    std::int64_t id = 0;
    std::string name;  // address name, without ".jpg"
    std::string title; // UTF-8, as typed (or the name)
    std::string session;
    std::int64_t size = 0;
    int width = 0;
    int height = 0;
    std::int64_t created = 0; // Unix time in milliseconds
    std::int64_t seq = 0;     // raised by every upload and rename; orders the live updates
};

// What Open found and cleaned up.
struct RepairReport {
    int temporaryFiles = 0; // half-written uploads removed
    int orphanFiles = 0;    // complete files whose row was never written, removed
    int missingFiles = 0;   // rows whose file had vanished, removed
};

class Store {
public:
    using Clock = std::chrono::system_clock;
    // Where the store reads the time (session expiry, picture creation times); tests pass a clock
    // they move themselves.
    using Now = std::function<Clock::time_point()>;

    // Opens (creating when needed) the data folder. nullptr with error set on failure.
    static std::unique_ptr<Store> Open(const std::filesystem::path& folder, std::string& error,
                                       Now now = Clock::now);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    enum class UploadStatus { Stored, WrongSession, Failed };
    struct UploadResult {
        UploadStatus status = UploadStatus::Failed;
        std::string name;
    };
    // Stores a checked JPEG. typedName (Windows-1252) gives the address name when it yields one,
    // made unique with "-2", "-3", …; otherwise a random name is used. A non-empty session must
    // be open and not expired; the upload then extends the session by ttl.
    UploadResult AddPicture(std::string_view jpeg, JpegSize size, std::string_view typedName,
                            std::string_view session, std::chrono::milliseconds ttl);

    enum class RenameStatus { Renamed, UnknownPicture, InvalidName, NameTaken };
    // Renames the picture with the address name current to the name made from typedName.
    RenameStatus Rename(std::string_view current, std::string_view typedName, std::string& newName);

    // Opens the session, or extends an existing one, until now + ttl.
    void OpenSession(std::string_view name, std::chrono::milliseconds ttl);

    enum class SessionState { Unknown, Active, Expired };
    SessionState GetSession(std::string_view name);

    // Pictures of a session whose seq is above afterSeq, newest upload first.
    std::vector<StoredPicture> SessionPictures(std::string_view session, std::int64_t afterSeq = 0);
    std::optional<StoredPicture> FindPicture(std::string_view name);
    // Path of the stored file of a picture, checked to lie inside the data folder.
    std::optional<std::filesystem::path> PictureFile(std::string_view name);

    // The highest seq handed out so far.
    std::int64_t LastSeq();
    // Waits until LastSeq() exceeds seen, the time-out passes or Shutdown is called.
    std::int64_t WaitForChange(std::int64_t seen, std::chrono::milliseconds timeout);
    // Wakes every waiter for good (the service is stopping).
    void Shutdown();
    bool ShuttingDown();

    const std::filesystem::path& Folder() const { return folder_; }
    const RepairReport& Repairs() const { return repairs_; }

private:
    Store() = default;
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
