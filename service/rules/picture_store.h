#pragma once
// The service's rules about pictures and sessions, kept once over any storage back end: how an
// upload is named (the typed name made address-safe, "-2", "-3", … when taken, a random name when
// nothing usable was typed; a name once given out is never given to another picture), who may
// rename a picture (its uploader), when a session takes uploads, what a rename checks before it
// changes anything, and the waiting of the live pages for the next change. The back end only
// stores and finds, inside the transactions this layer runs. The HTTP side and the program's start
// reach the storage only through this class.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/rules/change_signal.h"
#include "service/rules/jpeg_check.h"
#include "service/storage/storage_backend.h"
#include "service/storage/stored_picture.h"

namespace glimmerly::service {

// Attempts at a free random name before an upload gives up (only reached when other instances
// keep taking the very names this one picks).
inline constexpr int kNameAttempts = 50;
// Names of a series one upload tries before it gives up for now. Every name it passes was given
// out for good, so the series' counter keeps the progress (committed even then) and no name is
// tried twice; only names typed like "plan-7" before the series got that far are passed at all.
inline constexpr int kSeriesProbes = 10000;
// Changes the reader of the live pages takes in one statement.
inline constexpr int kChangesPerRead = 500;

// The n-th name of the series base, base-2, base-3, … (n = 1 is base itself).
std::string NameInSeries(const std::string& base, std::int64_t n);

class PictureStore {
public:
    using Clock = std::chrono::system_clock;
    // Where the store reads the time (session expiry, picture creation times, the retention of
    // expired sessions); tests pass a clock they move themselves.
    using Now = std::function<Clock::time_point()>;

    explicit PictureStore(std::unique_ptr<StorageBackend> backend, Now now = Clock::now);
    ~PictureStore();
    PictureStore(const PictureStore&) = delete;
    PictureStore& operator=(const PictureStore&) = delete;

    enum class UploadStatus { Stored, WrongSession, Failed };
    struct UploadResult {
        UploadStatus status = UploadStatus::Failed;
        std::string name;
    };
    // Stores a checked JPEG. typedName (Windows-1252) gives the address name when it yields one,
    // made unique with "-2", "-3", …; otherwise a random name is used. A non-empty session must
    // be open and not expired; the upload then extends the session by ttl. owner (an OwnerKey)
    // is who may change the picture later; empty: nobody.
    UploadResult AddPicture(std::string_view jpeg, JpegSize size, std::string_view typedName,
                            std::string_view session, std::chrono::milliseconds ttl,
                            std::string_view owner = {});

    enum class RenameStatus { Renamed, UnknownPicture, InvalidName, NameTaken, NotOwner };
    // Renames the picture with the address name current to the name made from typedName, when
    // owner (an OwnerKey) is the one it was uploaded with.
    RenameStatus Rename(std::string_view current, std::string_view typedName, std::string& newName,
                        std::string_view owner);

    enum class DeleteStatus { Deleted, UnknownPicture, NotOwner };
    // Deletes the picture with the address name, when owner is the one it was uploaded with. Its
    // names stay given out: they lead nowhere from then on.
    DeleteStatus Delete(std::string_view name, std::string_view owner);

    // Opens the session, or extends an existing one, until now + ttl.
    void OpenSession(std::string_view name, std::chrono::milliseconds ttl);

    enum class SessionState { Unknown, Active, Expired };
    SessionState GetSession(std::string_view name);
    // Deletes the sessions that expired more than retention ago (their pictures stay); how many.
    std::int64_t PurgeSessions(std::chrono::milliseconds retention);

    // Pictures of a session whose seq is above afterSeq, newest upload first.
    std::vector<StoredPicture> SessionPictures(std::string_view session, std::int64_t afterSeq = 0);
    std::optional<StoredPicture> FindPicture(std::string_view name);
    std::optional<PictureContent> ReadPicture(std::string_view name);
    // The current name of the picture a name was once given to (it was renamed since); empty when
    // that picture was deleted; nullopt when the name was never given out or its picture is not
    // stored right now.
    std::optional<std::string> CurrentName(std::string_view givenName);

    // The highest seq handed out so far. Every change with a seq up to it is visible.
    std::int64_t LastSeq();
    // Waits until a change beyond seen is known, the time-out passes or Shutdown is called;
    // returns the highest seq known.
    std::int64_t WaitForChange(std::int64_t seen, std::chrono::milliseconds timeout);
    // The changes as this instance reads them for its live pages.
    ChangeSignal& Changes() { return changes_; }
    // Wakes every waiter for good (the service is stopping).
    void Shutdown();
    bool ShuttingDown();

    // Empty when the storage can take requests; else what is wrong, for the health check.
    std::string CheckHealth();
    // What the ready line says about where the data lives (no passwords).
    std::string Describe() const;
    // What the storage put right when it was opened, for a line at the start; empty when nothing.
    std::string DescribeRepairs() const;

private:
    std::int64_t NowMs() const; // Unix time in milliseconds
    ChangeRead ReadChanges(std::int64_t after);

    Now now_;
    ChangeSignal changes_;
    // Declared after changes_, which the back end's watcher calls into until it is destroyed.
    std::unique_ptr<StorageBackend> backend_;
};

} // namespace glimmerly::service
