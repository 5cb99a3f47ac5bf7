#include "service/postgres/postgres_storage.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

#include <libpq-fe.h>

#include "service/postgres/postgres_schema.h"
#include "service/postgres/postgres_transaction.h"
#include "service/storage/sql_pictures.h"

namespace glimmerly::service {

namespace {

StoredPicture PictureFromRow(const pg::Result& r, int row) {
    return sql::PictureFromColumns([&](int i) { return r.Int(row, i); },
                                   [&](int i) { return r.Text(row, i); });
}

// How long a request whose COMMIT went unanswered looks for the transaction's outcome: past the
// idle-in-transaction bound, after which the server has ended a transaction whose COMMIT never
// arrived.
constexpr std::chrono::milliseconds kOutcomeSearch{pg::kIdleInTransactionTimeoutMs + 1000};

} // namespace

std::unique_ptr<PostgresStorage> PostgresStorage::Open(const std::string& address, int poolSize,
                                                       std::string& error) {
    std::unique_ptr<pg::Connection> first = pg::Connect(address);
    if (!first->ok()) {
        error = "cannot connect to the database: " + first->Error();
        return nullptr;
    }
    try {
        // An upgrade may take long and wait for the other instances' transactions (which are
        // bounded themselves): better a start that waits than one that fails.
        first->Script("SET lock_timeout = 0; SET statement_timeout = 0");
    } catch (const std::exception& e) {
        error = "cannot prepare the database connection: " + std::string(e.what());
        return nullptr;
    }
    if (!pg::PrepareSchema(*first, error)) {
        return nullptr;
    }
    std::unique_ptr<PostgresStorage> storage(new PostgresStorage(address, poolSize));
    storage->where_ = first->Where();
    try {
        storage->opened_ = first->Must("SELECT last FROM change_counter").Int(0, 0);
    } catch (const std::exception& e) {
        error = "cannot read the database " + storage->where_ + ": " + e.what();
        return nullptr;
    }
    if (::pipe2(storage->wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "cannot create a pipe";
        return nullptr;
    }
    return storage;
}

PostgresStorage::PostgresStorage(const std::string& address, int poolSize)
    : address_(address), pool_(address, poolSize) {}

PostgresStorage::~PostgresStorage() {
    ending_ = true;
    if (wakeFds_[1] >= 0) {
        char b = 1;
        (void)!::write(wakeFds_[1], &b, 1);
    }
    if (changeListener_.joinable()) {
        changeListener_.join();
    }
    for (int fd : wakeFds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::optional<bool> PostgresStorage::Committed(const std::string& transaction) {
    const auto until = std::chrono::steady_clock::now() + kOutcomeSearch;
    for (;;) {
        try {
            pg::Pool::Lease lease = pool_.Acquire(pg::Pool::Use::Read);
            pg::Result r = lease->Must("SELECT txid_status($1)", pg::Params().Text(transaction));
            const std::string status = r.Rows() == 1 ? r.Text(0, 0) : "";
            if (status == "committed") {
                return true;
            }
            if (status == "aborted") {
                return false;
            }
            if (status != "in progress") {
                return std::nullopt; // too old to tell
            }
        } catch (const StoreBusy&) {
            // no connection free for the moment
        } catch (const StoreUnavailable&) {
            pool_.DropIdle(); // the database is away (and may come back in time)
        }
        if (std::chrono::steady_clock::now() >= until) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

template <typename Body> auto PostgresStorage::InTransaction(Body body, bool single) {
    using Out = decltype(body(std::declval<pg::Connection&>()));
    for (int attempt = 0;; ++attempt) {
        pg::Pool::Lease lease = pool_.Acquire(single ? pg::Pool::Use::Read : pg::Pool::Use::Write);
        pg::Connection& c = *lease;
        bool committing = false;
        std::string transaction; // its id, to learn the outcome of a COMMIT that went unanswered
        std::optional<Out> result;
        try {
            if (!single) {
                transaction = c.Script("BEGIN; SELECT txid_current()").Text(0, 0);
            }
            result.emplace(body(c));
            switch (PQtransactionStatus(c.raw())) {
            case PQTRANS_INTRANS:
                committing = true;
                c.Must("COMMIT");
                break;
            case PQTRANS_INERROR:
                c.Must("ROLLBACK");
                break;
            default:
                break;
            }
            return std::move(*result);
        } catch (const pg::ConnectionLost&) {
            lease.Discard();
            pool_.DropIdle();
            // A lost COMMIT may or may not have landed: never run the body twice then, and
            // never answer "refused" for a change that was stored (its client would send it
            // again), nor "stored" for one that was not.
            if (committing) {
                std::optional<bool> committed = Committed(transaction);
                if (!committed) {
                    throw pg::CommitUnknown("the database connection was lost during COMMIT "
                                            "and the outcome could not be found out");
                }
                if (*committed) {
                    return std::move(*result);
                }
                throw;
            }
            if (attempt > 0) {
                throw;
            }
        } catch (...) {
            if (c.ok() && PQtransactionStatus(c.raw()) != PQTRANS_IDLE) {
                c.Exec("ROLLBACK");
            }
            throw;
        }
    }
}

template <typename Body> auto PostgresStorage::Query(Body body) {
    return InTransaction(body, true);
}

void PostgresStorage::Transact(const std::function<bool(StorageTransaction&)>& work) {
    InTransaction([&](pg::Connection& c) {
        pg::Transaction t(c);
        if (!work(t)) {
            c.Must("ROLLBACK");
        } else if (PQtransactionStatus(c.raw()) == PQTRANS_INERROR) {
            // A statement failed without the work noticing: its changes cannot be committed.
            throw pg::StatementFailed("the transaction failed and was rolled back");
        }
        return 0;
    });
}

void PostgresStorage::OpenSession(std::string_view name, std::int64_t now, std::int64_t expires) {
    InTransaction([&](pg::Connection& c) {
        c.Must("INSERT INTO sessions(name, created, expires) VALUES($1, $2, $3) "
               "ON CONFLICT (name) DO UPDATE SET expires = excluded.expires",
               pg::Params().Text(name).Int(now).Int(expires));
        return 0;
    });
}

std::optional<std::int64_t> PostgresStorage::SessionExpiry(std::string_view name) {
    pg::Result r = Query([&](pg::Connection& c) {
        return c.Must("SELECT expires FROM sessions WHERE name = $1", pg::Params().Text(name));
    });
    if (r.Rows() != 1) {
        return std::nullopt;
    }
    return r.Int(0, 0);
}

std::vector<StoredPicture> PostgresStorage::SessionPictures(std::string_view session,
                                                            std::int64_t afterSeq) {
    std::string sql = std::string("SELECT ") + sql::kPictureColumns +
                      " FROM pictures WHERE session = $1 AND seq > $2 ORDER BY id DESC";
    pg::Result r = Query([&](pg::Connection& c) {
        return c.Must(sql.c_str(), pg::Params().Text(session).Int(afterSeq));
    });
    std::vector<StoredPicture> out;
    for (int i = 0; i < r.Rows(); ++i) {
        out.push_back(PictureFromRow(r, i));
    }
    return out;
}

std::vector<StoredPicture> PostgresStorage::ChangesAfter(std::int64_t after, std::int64_t upto,
                                                         int limit) {
    std::string sql = std::string("SELECT ") + sql::kPictureColumns +
                      " FROM pictures WHERE seq > $1 AND seq <= $2 ORDER BY seq LIMIT $3";
    pg::Result r = Query([&](pg::Connection& c) {
        return c.Must(sql.c_str(), pg::Params().Int(after).Int(upto).Int(limit));
    });
    std::vector<StoredPicture> out;
    for (int i = 0; i < r.Rows(); ++i) {
        out.push_back(PictureFromRow(r, i));
    }
    return out;
}

std::optional<StoredPicture> PostgresStorage::FindPicture(std::string_view name) {
    std::string sql =
        std::string("SELECT ") + sql::kPictureColumns + " FROM pictures WHERE name = $1";
    pg::Result r =
        Query([&](pg::Connection& c) { return c.Must(sql.c_str(), pg::Params().Text(name)); });
    if (r.Rows() != 1) {
        return std::nullopt;
    }
    return PictureFromRow(r, 0);
}

std::optional<PictureContent> PostgresStorage::ReadPicture(std::string_view name) {
    pg::Result r = Query([&](pg::Connection& c) {
        return c.Must("SELECT jpeg FROM pictures WHERE name = $1", pg::Params().Text(name), true);
    });
    if (r.Rows() != 1) {
        return std::nullopt;
    }
    PictureContent content;
    content.bytes = r.Text(0, 0);
    return content;
}

std::optional<std::string> PostgresStorage::CurrentName(std::string_view givenName) {
    pg::Result r = Query([&](pg::Connection& c) {
        // No row of its picture: deleted.
        return c.Must("SELECT coalesce(p.name, '') FROM given_names g "
                      "LEFT JOIN pictures p ON p.id = g.picture WHERE g.name = $1",
                      pg::Params().Text(givenName));
    });
    if (r.Rows() != 1) {
        return std::nullopt;
    }
    return r.Text(0, 0);
}

std::int64_t PostgresStorage::LastChange() {
    pg::Result r =
        Query([&](pg::Connection& c) { return c.Must("SELECT last FROM change_counter"); });
    return r.Int(0, 0);
}

std::int64_t PostgresStorage::PurgeSessions(std::int64_t before) {
    pg::Result r = Query([&](pg::Connection& c) {
        return c.Must("DELETE FROM sessions WHERE expires < $1", pg::Params().Int(before));
    });
    return r.Affected();
}

std::string PostgresStorage::CheckHealth() {
    try {
        LastChange();
        return {};
    } catch (const std::exception& e) {
        return std::string("database: ") + e.what();
    }
}

std::string PostgresStorage::Describe() const {
    return "database postgresql://" + where_;
}

} // namespace glimmerly::service
