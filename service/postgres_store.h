#pragma once
// The store of services that share one PostgreSQL database: pictures (their bytes too), sessions
// and the change counter all live in the database, so any instance can answer any request.
//
// Every operation is one transaction. Uploads and renames raise the one-row change counter as
// their last statement and NOTIFY the new value in the same transaction; the counter's row lock
// makes changes commit in counter order, so a reader that has seen change n has also seen every
// change below n (a live page never skips one). A listener connection per instance receives the
// notifications and wakes WaitForChange.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/postgres_pool.h"
#include "service/store.h"

namespace glimmerly::service {

namespace pg {
// Where uploads and renames NOTIFY their change number.
inline constexpr const char* kChangeChannel = "glimmerly_changes";
// The newest schema this program knows.
extern const int kSchemaVersion;
// Creates or upgrades the schema in one transaction; false with error set when the database
// cannot be prepared or is newer than this program.
bool PrepareSchema(Connection& c, std::string& error);
} // namespace pg

class PostgresStore final : public Store {
public:
    // Connects, prepares the schema and starts listening. nullptr with error set on failure.
    static std::unique_ptr<PostgresStore> Open(const std::string& address, int poolSize,
                                               std::string& error, Now now = Clock::now);
    ~PostgresStore() override;

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

private:
    PostgresStore(const std::string& address, int poolSize, Now now);

    // Runs body inside a transaction on a pooled connection, committing when it leaves the
    // transaction open and rolling back when a statement failed. A connection found dead before
    // anything was committed is replaced and the whole body run once more (after a database
    // restart every pooled connection is stale).
    template <typename Body> auto InTransaction(Body body, bool single = false);
    // One reading statement: no transaction around it, but the same retry on a stale connection.
    template <typename Body> auto Query(Body body);
    // Raises the change counter, stamps the picture with it and notifies the listeners.
    std::int64_t RecordChange(pg::Connection& c, std::int64_t pictureId);
    std::string FreeName(pg::Connection& c, const std::string& base);
    void Listen();
    void Known(std::int64_t seq); // a change up to seq is committed
    std::int64_t NowMs() const;

    std::string address_;
    std::string where_;
    Now now_;
    pg::Pool pool_;

    std::mutex mutex_; // guards known_ and stopping_
    std::condition_variable changed_;
    std::int64_t known_ = 0;
    bool stopping_ = false;
    std::atomic<bool> ending_{false};
    int wakeFds_[2] = {-1, -1}; // ends the listener's wait
    std::thread listener_;
};

} // namespace glimmerly::service
