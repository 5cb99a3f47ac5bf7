#pragma once
// The service's storage, as the HTTP side sees it: pictures, sessions and the change counter
// that drives the live pages. Implemented once by PictureStore, which keeps the rules, over a
// storage back end: SqliteStorage (one machine, SQLite and files in a data folder, the default)
// or PostgresStorage (everything in one PostgreSQL database, shared by any number of service
// instances).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "service/jpeg_check.h"

namespace glimmerly::service {

class ChangeSignal;

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

// The bytes of a stored picture: an open file (the caller closes it) or the bytes themselves.
struct PictureContent {
    int fd = -1;
    std::uint64_t fileSize = 0;
    std::string bytes;
};

// Thrown by a store whose database cannot be reached right now. Nothing of the operation was
// written; the request may be tried again later.
class StoreUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown when a wait for the database ran out (a lock another writer holds, a full connection
// pool, a statement running too long): the service answers at once instead of hanging. As with
// StoreUnavailable, the operation was rolled back and may be tried again shortly.
class StoreBusy : public StoreUnavailable {
public:
    using StoreUnavailable::StoreUnavailable;
};

class Store {
public:
    using Clock = std::chrono::system_clock;
    // Where the store reads the time (session expiry, picture creation times); tests pass a clock
    // they move themselves.
    using Now = std::function<Clock::time_point()>;

    virtual ~Store() = default;

    enum class UploadStatus { Stored, WrongSession, Failed };
    struct UploadResult {
        UploadStatus status = UploadStatus::Failed;
        std::string name;
    };
    // Stores a checked JPEG. typedName (Windows-1252) gives the address name when it yields one,
    // made unique with "-2", "-3", …; otherwise a random name is used. A non-empty session must
    // be open and not expired; the upload then extends the session by ttl. owner (an OwnerKey)
    // is who may change the picture later; empty: nobody.
    virtual UploadResult AddPicture(std::string_view jpeg, JpegSize size,
                                    std::string_view typedName, std::string_view session,
                                    std::chrono::milliseconds ttl, std::string_view owner = {}) = 0;

    enum class RenameStatus { Renamed, UnknownPicture, InvalidName, NameTaken, NotOwner };
    // Renames the picture with the address name current to the name made from typedName, when
    // owner (an OwnerKey) is the one it was uploaded with.
    virtual RenameStatus Rename(std::string_view current, std::string_view typedName,
                                std::string& newName, std::string_view owner) = 0;

    enum class DeleteStatus { Deleted, UnknownPicture, NotOwner };
    // Deletes the picture with the address name, when owner is the one it was uploaded with. Its
    // names stay given out: they lead nowhere from then on.
    virtual DeleteStatus Delete(std::string_view name, std::string_view owner) = 0;

    // Opens the session, or extends an existing one, until now + ttl.
    virtual void OpenSession(std::string_view name, std::chrono::milliseconds ttl) = 0;

    enum class SessionState { Unknown, Active, Expired };
    virtual SessionState GetSession(std::string_view name) = 0;

    // Pictures of a session whose seq is above afterSeq, newest upload first.
    virtual std::vector<StoredPicture> SessionPictures(std::string_view session,
                                                       std::int64_t afterSeq = 0) = 0;
    virtual std::optional<StoredPicture> FindPicture(std::string_view name) = 0;
    virtual std::optional<PictureContent> ReadPicture(std::string_view name) = 0;
    // The current name of the picture a name was once given to (it was renamed since); empty when
    // that picture was deleted; nullopt when the name was never given out or its picture is not
    // stored right now.
    virtual std::optional<std::string> CurrentName(std::string_view givenName) = 0;

    // The highest seq handed out so far. Every change with a seq up to it is visible.
    virtual std::int64_t LastSeq() = 0;
    // Waits until a change beyond seen is known, the time-out passes or Shutdown is called;
    // returns the highest seq known.
    virtual std::int64_t WaitForChange(std::int64_t seen, std::chrono::milliseconds timeout) = 0;
    // The changes as this instance reads them for its live pages.
    virtual ChangeSignal& Changes() = 0;
    // Wakes every waiter for good (the service is stopping).
    virtual void Shutdown() = 0;
    virtual bool ShuttingDown() = 0;

    // What the ready line says about where the data lives (no passwords).
    virtual std::string Describe() const = 0;

protected:
    Store() = default;
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
};

struct StoreOptions {
    std::string folder;             // data folder of the SQLite store
    std::string database;           // postgresql://… or postgres://…: use PostgreSQL instead
    int poolSize = 8;               // database connections of the PostgreSQL store
    bool quarantineMissing = false; // SQLite: quarantine rows without a file, however many
};

// True for a connection address the PostgreSQL store takes.
bool IsPostgresAddress(std::string_view address);

// Opens the store the options name. nullptr with error set on failure (an unreachable database,
// a database schema newer than this program, a data folder in use).
std::unique_ptr<Store> OpenStore(const StoreOptions& options, std::string& error,
                                 Store::Now now = Store::Clock::now);

} // namespace glimmerly::service
