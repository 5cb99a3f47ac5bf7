#include "service/postgres_storage.h"

#include <fcntl.h>
#include <unistd.h>

#include <libpq-fe.h>

#include "service/postgres_transaction.h"
#include "service/sql_pictures.h"

namespace glimmerly::service {

namespace {

StoredPicture PictureFromRow(const pg::Result& r, int row) {
    return sql::PictureFromColumns([&](int i) { return r.Int(row, i); },
                                   [&](int i) { return r.Text(row, i); });
}

} // namespace

std::unique_ptr<PostgresStorage> PostgresStorage::Open(const std::string& address, int poolSize,
                                                       std::string& error) {
    std::unique_ptr<pg::Connection> first = pg::Connect(address);
    if (!first->ok()) {
        error = "cannot connect to the database: " + first->Error();
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
    if (listener_.joinable()) {
        listener_.join();
    }
    for (int fd : wakeFds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

template <typename Body> auto PostgresStorage::InTransaction(Body body, bool single) {
    for (int attempt = 0;; ++attempt) {
        pg::Pool::Lease lease = pool_.Acquire();
        pg::Connection& c = *lease;
        bool committing = false;
        try {
            if (!single) {
                c.Must("BEGIN");
            }
            auto result = body(c);
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
            return result;
        } catch (const pg::ConnectionLost&) {
            lease.Discard();
            pool_.DropIdle();
            // A lost COMMIT may or may not have landed: never run the body twice then.
            if (committing || attempt > 0) {
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

std::string PostgresStorage::Describe() const {
    return "database postgresql://" + where_;
}

} // namespace glimmerly::service
