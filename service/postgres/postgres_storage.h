#pragma once
// The storage of services that share one PostgreSQL database: pictures (their bytes too),
// sessions and the change counter all live in the database, so any instance can answer any
// request.
//
// Every operation is one transaction. Uploads and renames raise the one-row change counter as
// their last statement and NOTIFY the new value in the same transaction; the counter's row lock
// makes changes commit in counter order. A change listener connection per instance receives the
// notifications of every instance and passes them to the watcher.

#include <atomic>
#include <thread>

#include "service/postgres/postgres_pool.h"
#include "service/storage/storage_backend.h"

namespace glimmerly::service {

class PostgresStorage final : public StorageBackend {
public:
    // Connects and prepares the schema. nullptr with error set on failure.
    static std::unique_ptr<PostgresStorage> Open(const std::string& address, int poolSize,
                                                 std::string& error);
    ~PostgresStorage() override;

    void Transact(const std::function<bool(StorageTransaction&)>& work) override;
    // The bytes go into the picture's row: nothing to do before the transaction.
    bool Stage(NewPicture&) override { return true; }
    void Unstage(const NewPicture&) override {}
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
    // Starts the change listener (a connection of its own that LISTENs).
    void WatchChanges(std::function<void(std::int64_t)> changed) override;
    std::string Describe() const override;
    // A transaction the database did not commit is rolled back: nothing to put right.
    std::string DescribeRepairs() const override { return {}; }
    std::int64_t PurgeSessions(std::int64_t before) override;
    std::string CheckHealth() override;

private:
    PostgresStorage(const std::string& address, int poolSize);

    // Runs body inside a transaction on a pooled connection, committing when it leaves the
    // transaction open and rolling back when a statement failed. A connection found dead before
    // anything was committed is replaced and the whole body run once more (after a database
    // restart every pooled connection is stale). A lost COMMIT is looked up: committed, the
    // result stands; rolled back, StoreUnavailable; not to be found out, pg::CommitUnknown.
    // Transactions take writers' connections from the pool, single statements readers'.
    template <typename Body> auto InTransaction(Body body, bool single = false);
    // One reading statement: no transaction around it, but the same retry on a stale connection.
    template <typename Body> auto Query(Body body);
    // Whether the transaction with this id committed, asked on another connection after its
    // COMMIT went unanswered; nullopt when that cannot be found out in a few seconds.
    std::optional<bool> Committed(const std::string& transaction);
    void ListenForChanges();

    std::string address_;
    std::string where_;
    pg::Pool pool_;
    std::int64_t opened_ = 0; // the change counter when opened

    std::function<void(std::int64_t)> changed_;
    std::atomic<bool> ending_{false};
    int wakeFds_[2] = {-1, -1}; // ends the change listener's wait
    std::thread changeListener_;
};

} // namespace glimmerly::service
