#pragma once
// Where a PictureStore keeps its data: the narrow interface a database implements. The back end
// stores and finds; it decides nothing about names or sessions. Two implementations:
// SqliteStorage (one machine, SQLite and files in a data folder) and PostgresStorage (one
// database shared by any number of service instances).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "service/storage/stored_picture.h"

namespace glimmerly::service {

// A statement the back end did not expect to fail (full disk, broken constraint). The
// transaction it happened in is rolled back.
class StorageFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An upload on its way into storage.
struct NewPicture {
    std::string name;
    std::string title;   // UTF-8
    std::string session; // empty: none
    int width = 0;
    int height = 0;
    std::int64_t created = 0; // Unix time in milliseconds
    std::string_view jpeg;
    std::string file;  // where Stage put the bytes, when the back end keeps them outside its rows
    std::string owner; // OwnerKey of the uploader's token; empty: nobody may change it
};

// A picture about to be changed.
struct PictureToChange {
    std::int64_t id = 0;
    std::string owner; // empty for pictures stored before uploads had owners
};

// The statements one transaction may run. Changes become visible together when the transaction
// commits, or not at all.
class StorageTransaction {
public:
    virtual ~StorageTransaction() = default;

    // Moves the expiry of a session that is open at now to expires; false when there is no such
    // session (unknown or expired).
    virtual bool ExtendSession(std::string_view name, std::int64_t now, std::int64_t expires) = 0;
    // The number the series base, base-2, base-3, … goes on with: 1 (base itself) for a base never
    // counted, else the number after the last one handed out. Held against concurrent uploads of
    // the same base until the end of the transaction.
    virtual std::int64_t SeriesNext(std::string_view base) = 0;
    virtual void SetSeriesNext(std::string_view base, std::int64_t next) = 0;
    // Inserts the picture unless its name was ever given out (to any picture, also one renamed,
    // quarantined or gone since); its id, or nullopt when it was (then nothing was written and
    // the transaction can go on). The name stays given to the picture for good.
    virtual std::optional<std::int64_t> InsertIfNameFree(const NewPicture& picture) = 0;
    // The picture with this name, held against concurrent changes until the end of the
    // transaction.
    virtual std::optional<PictureToChange> FindForChange(std::string_view name) = 0;
    // Gives a picture a new name and title unless the name was ever given to another picture;
    // false when it was (then the transaction must end without committing). Its old names stay
    // given to it.
    virtual bool RenameIfFree(std::int64_t id, std::string_view name, std::string_view title) = 0;
    // Deletes the picture (its bytes once the transaction committed). Its names stay given out.
    virtual void DeletePicture(std::int64_t id) = 0;
    // Raises the change counter and stamps the picture with the new count, which it returns.
    // The last statement of a transaction that changes a picture: changes then commit in counter
    // order, so whoever has seen change n has seen every change below n.
    virtual std::int64_t RecordChange(std::int64_t pictureId) = 0;

protected:
    StorageTransaction() = default;
    StorageTransaction(const StorageTransaction&) = delete;
    StorageTransaction& operator=(const StorageTransaction&) = delete;
};

class StorageBackend {
public:
    virtual ~StorageBackend() = default;

    // Runs work in one transaction: committed when work returns true, rolled back when it
    // returns false or throws. The back end may run work again from the start (after finding
    // its connection dead before the commit), so work keeps its results only in variables it
    // sets afresh on each run. Throws StoreUnavailable when the database cannot be reached.
    virtual void Transact(const std::function<bool(StorageTransaction&)>& work) = 0;

    // Puts the picture's bytes where they can wait for its row, before the transaction (the
    // SQLite back end writes its file here, outside any lock); false when that failed.
    virtual bool Stage(NewPicture& picture) = 0;
    // Takes back what Stage put aside, when the picture was not stored after all.
    virtual void Unstage(const NewPicture& picture) = 0;

    // Opens a session until expires, or moves the expiry of an existing one there.
    virtual void OpenSession(std::string_view name, std::int64_t now, std::int64_t expires) = 0;
    virtual std::optional<std::int64_t> SessionExpiry(std::string_view name) = 0;

    // Pictures of a session changed after afterSeq, newest upload first.
    virtual std::vector<StoredPicture> SessionPictures(std::string_view session,
                                                       std::int64_t afterSeq) = 0;
    virtual std::optional<StoredPicture> FindPicture(std::string_view name) = 0;
    virtual std::optional<PictureContent> ReadPicture(std::string_view name) = 0;
    // The current name of the picture this name was once given to; empty when that picture was
    // deleted; nullopt when the name was never given out or its picture is not stored right now
    // (in quarantine).
    virtual std::optional<std::string> CurrentName(std::string_view givenName) = 0;

    // Pictures whose last change lies in (after, upto], in change order, at most limit of them.
    virtual std::vector<StoredPicture> ChangesAfter(std::int64_t after, std::int64_t upto,
                                                    int limit) = 0;
    // The change counter as committed.
    virtual std::int64_t LastChange() = 0;
    // Calls changed with the change counter at once, and from then on (on any thread) whenever
    // another writer on the same data commits a change. Called once, before the first
    // transaction.
    virtual void WatchChanges(std::function<void(std::int64_t)> changed) = 0;

    // Where the data lives, for the ready line (no passwords).
    virtual std::string Describe() const = 0;
    // What opening the storage put right (a repair of the data left by a crash), for a line at
    // the start; empty when there was nothing to put right.
    virtual std::string DescribeRepairs() const = 0;

    // Deletes the sessions that expired before `before` (Unix time in milliseconds); their
    // pictures stay. Returns how many were deleted.
    virtual std::int64_t PurgeSessions(std::int64_t before) = 0;
    // Empty when the store can take requests; else what is wrong, for a health check.
    virtual std::string CheckHealth() = 0;

protected:
    StorageBackend() = default;
    StorageBackend(const StorageBackend&) = delete;
    StorageBackend& operator=(const StorageBackend&) = delete;
};

} // namespace glimmerly::service
