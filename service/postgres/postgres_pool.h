#pragma once
// A thin layer over libpq for the PostgreSQL store: results that free themselves, parameters
// (text or binary) without escaping, connections that notice when the server has gone, and a
// fixed-size pool that reconnects lazily.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/storage/storage_backend.h"

struct pg_conn;
struct pg_result;

namespace glimmerly::service::pg {

// How long the service waits on the database before it gives up on a request and answers 503
// (StoreBusy): far below what anyone waits for an answer, so that a writer holding a lock for a
// long time (a stuck transaction, an instance stopped in the middle of one) costs the others a
// quick refusal instead of a hang, and a refused upload is rolled back before its client gives up.
// Every connection gets the three server-side bounds; an address may set its own through its
// "options" parameter, which then replaces all three.
// A wait for a pooled connection is a queue, not a stall: under a burst of uploads it is normal,
// and behind a held lock it moves on every kLockTimeoutMs, so it gets longer.
inline constexpr std::chrono::milliseconds kConnectionWait{10000}; // for a free pooled connection
inline constexpr int kLockTimeoutMs = 2000;                        // for a row or table lock
inline constexpr int kStatementTimeoutMs = 5000;                   // for one statement
// For the next statement inside a transaction: the server ends a transaction whose client
// stopped in its middle, releasing its locks.
inline constexpr int kIdleInTransactionTimeoutMs = 5000;

// The connection failed or was closed by the server (restart, shutdown).
class ConnectionLost : public StoreUnavailable {
public:
    using StoreUnavailable::StoreUnavailable;
};

// A COMMIT whose connection was lost and whose outcome could not be found out afterwards: the
// change may or may not be stored, so the request must not be answered as refused.
class CommitUnknown : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Any other failed statement that the caller did not expect.
class StatementFailed : public StorageFailed {
public:
    using StorageFailed::StorageFailed;
};

class Result {
public:
    explicit Result(pg_result* result = nullptr) : result_(result) {}
    ~Result();
    Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
    Result& operator=(Result&& other) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    bool ok() const; // the statement succeeded
    std::string SqlState() const;
    std::string Message() const;
    int Rows() const;
    int Affected() const; // rows changed by INSERT/UPDATE/DELETE
    std::string Text(int row, int col) const;
    std::int64_t Int(int row, int col) const;

private:
    pg_result* result_;
};

// Statement parameters. Text and integers are copied; Binary keeps a view, so the bytes must
// outlive the call.
class Params {
public:
    Params& Text(std::string_view text);
    Params& Int(std::int64_t value);
    Params& Binary(std::string_view bytes);
    Params& Null();

private:
    friend class Connection;
    std::deque<std::string> copies_;
    std::vector<const char*> values_;
    std::vector<int> lengths_;
    std::vector<int> formats_;
};

class Connection {
public:
    // Connects; on failure ok() is false and Error() says why.
    explicit Connection(const std::string& address);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool ok() const;
    std::string Error() const;
    pg_conn* raw() { return conn_; }

    // Runs one statement. Throws ConnectionLost when the server cannot be reached; an SQL error
    // comes back in the result. binaryResult asks for raw bytes (bytea) instead of text.
    Result Exec(const char* sql, const Params& params = {}, bool binaryResult = false);
    // The same, but any SQL error throws StatementFailed.
    Result Must(const char* sql, const Params& params = {}, bool binaryResult = false);

    // Runs several statements separated by semicolons (no parameters) and returns the last one's
    // result; SQL errors throw StatementFailed. A wait that ran out of its bound (a lock, the
    // statement time-out) throws StoreBusy, here and in Exec and Must.
    Result Script(const char* sql);

    // host:port/database, without user or password.
    std::string Where() const;

private:
    pg_conn* conn_ = nullptr;
};

// Opens a connection with the store's defaults (time-outs, application name) put before the
// address's own settings.
std::unique_ptr<Connection> Connect(const std::string& address);

// A fixed number of connections, of which writers (transactions that change data and may wait
// for the change counter) get all but a quarter: reads never wait for a connection that writers
// hold while they wait for a lock.
class Pool {
public:
    enum class Use { Read, Write };

    Pool(std::string address, int size, std::chrono::milliseconds wait = kConnectionWait);
    ~Pool();

    class Lease {
    public:
        Lease(Pool& pool, std::unique_ptr<Connection> connection, Use use)
            : pool_(&pool), connection_(std::move(connection)), use_(use) {}
        ~Lease();
        Lease(Lease&& other) noexcept
            : pool_(std::exchange(other.pool_, nullptr)), connection_(std::move(other.connection_)),
              use_(other.use_) {}
        Lease& operator=(Lease&&) = delete;
        Connection& operator*() { return *connection_; }
        Connection* operator->() { return connection_.get(); }
        // Drops the connection instead of returning it (it is broken).
        void Discard() { connection_.reset(); }

    private:
        Pool* pool_;
        std::unique_ptr<Connection> connection_;
        Use use_;
    };

    // Waits for a free connection for this use, connecting a new one when the pool has room.
    // Throws StoreBusy when none came free in time, StoreUnavailable when the server cannot be
    // reached.
    Lease Acquire(Use use);
    // Closes the idle connections: after one was found dead, the others (opened before the same
    // server restart) are most likely dead too.
    void DropIdle();

private:
    void Return(std::unique_ptr<Connection> connection, Use use);

    std::string address_;
    int size_;
    int writeLimit_; // connections writers may hold at once
    std::chrono::milliseconds wait_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<std::unique_ptr<Connection>> idle_;
    int leased_ = 0;
    int writing_ = 0; // leased to writers
};

} // namespace glimmerly::service::pg
