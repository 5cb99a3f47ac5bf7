#include "service/postgres_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include <libpq-fe.h>

#include "service/names.h"
#include "text/cp1252.h"

namespace glimmerly::service {

namespace {

constexpr const char* kPictureColumns =
    "id, name, title, coalesce(session, ''), size, width, height, created, seq";
constexpr const char* kUniqueViolation = "23505";
// Attempts at a free name before an upload gives up (only reached when other instances keep
// taking the very names this one picks).
constexpr int kNameAttempts = 50;

StoredPicture PictureFromRow(const pg::Result& r, int row) {
    StoredPicture p;
    p.id = r.Int(row, 0);
    p.name = r.Text(row, 1);
    p.title = r.Text(row, 2);
    p.session = r.Text(row, 3);
    p.size = r.Int(row, 4);
    p.width = static_cast<int>(r.Int(row, 5));
    p.height = static_cast<int>(r.Int(row, 6));
    p.created = r.Int(row, 7);
    p.seq = r.Int(row, 8);
    return p;
}

// base with the LIKE wildcards escaped ("_" is one of the name characters).
std::string LikePrefix(const std::string& base) {
    std::string out;
    for (char c : base) {
        if (c == '_' || c == '%' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "-%";
}

} // namespace

std::unique_ptr<PostgresStore> PostgresStore::Open(const std::string& address, int poolSize,
                                                   std::string& error, Now now) {
    std::unique_ptr<pg::Connection> first = pg::Connect(address);
    if (!first->ok()) {
        error = "cannot connect to the database: " + first->Error();
        return nullptr;
    }
    if (!pg::PrepareSchema(*first, error)) {
        return nullptr;
    }
    std::unique_ptr<PostgresStore> store(new PostgresStore(address, poolSize, std::move(now)));
    store->where_ = first->Where();
    try {
        store->known_ = first->Must("SELECT last FROM change_counter").Int(0, 0);
    } catch (const std::exception& e) {
        error = "cannot read the database " + store->where_ + ": " + e.what();
        return nullptr;
    }
    if (::pipe2(store->wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "cannot create a pipe";
        return nullptr;
    }
    store->listener_ = std::thread([s = store.get()] { s->Listen(); });
    return store;
}

PostgresStore::PostgresStore(const std::string& address, int poolSize, Now now)
    : address_(address), now_(std::move(now)), pool_(address, poolSize) {}

PostgresStore::~PostgresStore() {
    ending_ = true;
    Shutdown();
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

std::int64_t PostgresStore::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now_().time_since_epoch()).count();
}

template <typename Body> auto PostgresStore::InTransaction(Body body, bool single) {
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

template <typename Body> auto PostgresStore::Query(Body body) {
    return InTransaction(body, true);
}

std::int64_t PostgresStore::RecordChange(pg::Connection& c, std::int64_t pictureId) {
    pg::Result r = c.Must("WITH counter AS (UPDATE change_counter SET last = last + 1 WHERE id = 1 "
                          "RETURNING last) UPDATE pictures SET seq = counter.last FROM counter "
                          "WHERE pictures.id = $1 RETURNING counter.last",
                          pg::Params().Int(pictureId));
    std::int64_t seq = r.Int(0, 0);
    c.Must("SELECT pg_notify($1, $2)",
           pg::Params().Text(pg::kChangeChannel).Text(std::to_string(seq)));
    return seq;
}

// The name the SQLite store would give: base, else the first free of base-2, base-3, …
std::string PostgresStore::FreeName(pg::Connection& c, const std::string& base) {
    pg::Result r = c.Must("SELECT name FROM pictures WHERE name = $1 OR name LIKE $2",
                          pg::Params().Text(base).Text(LikePrefix(base)));
    std::set<std::string> taken;
    for (int i = 0; i < r.Rows(); ++i) {
        taken.insert(r.Text(i, 0));
    }
    std::string name = base;
    for (int n = 2; taken.count(name); ++n) {
        name = base + "-" + std::to_string(n);
    }
    return name;
}

Store::UploadResult PostgresStore::AddPicture(std::string_view jpeg, JpegSize size,
                                              std::string_view typedName, std::string_view session,
                                              std::chrono::milliseconds ttl) {
    const std::string base = MakePictureName(typedName);
    std::int64_t seq = 0;
    UploadResult result = InTransaction([&](pg::Connection& c) {
        UploadResult out;
        std::int64_t now = NowMs();
        if (!session.empty()) {
            pg::Result extended =
                c.Must("UPDATE sessions SET expires = $1 WHERE name = $2 AND expires > $3",
                       pg::Params().Int(now + ttl.count()).Text(session).Int(now));
            if (extended.Affected() != 1) {
                out.status = UploadStatus::WrongSession;
                return out;
            }
        }
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            std::string name = base.empty() ? RandomPictureName() : FreeName(c, base);
            std::string title = typedName.empty() ? name : cp1252::ToUtf8(typedName);
            pg::Params params;
            params.Text(name).Text(title);
            if (session.empty()) {
                params.Null();
            } else {
                params.Text(session);
            }
            params.Int(static_cast<std::int64_t>(jpeg.size()))
                .Int(size.width)
                .Int(size.height)
                .Int(now)
                .Binary(jpeg);
            // The unique index decides between instances taking the same name at once; the
            // loser picks again.
            pg::Result inserted = c.Must(
                "INSERT INTO pictures(name, title, session, size, width, height, created, seq, "
                "jpeg) VALUES($1, $2, $3, $4, $5, $6, $7, 0, $8) ON CONFLICT (name) DO NOTHING "
                "RETURNING id",
                params);
            if (inserted.Rows() == 1) {
                seq = RecordChange(c, inserted.Int(0, 0));
                out.status = UploadStatus::Stored;
                out.name = name;
                return out;
            }
        }
        c.Must("ROLLBACK");
        return out;
    });
    if (result.status == UploadStatus::Stored) {
        Known(seq);
    }
    return result;
}

Store::RenameStatus PostgresStore::Rename(std::string_view current, std::string_view typedName,
                                          std::string& newName) {
    std::string name = MakePictureName(typedName);
    if (typedName.size() > kMaxTypedNameLength) {
        name.clear();
    }
    if (!IsPictureName(current)) {
        return RenameStatus::UnknownPicture;
    }
    std::int64_t seq = 0;
    RenameStatus status = InTransaction([&](pg::Connection& c) {
        pg::Result found = c.Must("SELECT id FROM pictures WHERE name = $1 FOR UPDATE",
                                  pg::Params().Text(current));
        if (found.Rows() != 1) {
            return RenameStatus::UnknownPicture;
        }
        if (name.empty()) {
            return RenameStatus::InvalidName;
        }
        std::int64_t id = found.Int(0, 0);
        pg::Result updated =
            c.Exec("UPDATE pictures SET name = $1, title = $2 WHERE id = $3",
                   pg::Params().Text(name).Text(cp1252::ToUtf8(typedName)).Int(id));
        if (!updated.ok()) {
            if (updated.SqlState() == kUniqueViolation) {
                return RenameStatus::NameTaken; // the transaction is rolled back
            }
            throw pg::StatementFailed(updated.Message());
        }
        seq = RecordChange(c, id);
        return RenameStatus::Renamed;
    });
    if (status == RenameStatus::Renamed) {
        Known(seq);
        newName = name;
    }
    return status;
}

void PostgresStore::OpenSession(std::string_view name, std::chrono::milliseconds ttl) {
    std::int64_t now = NowMs();
    InTransaction([&](pg::Connection& c) {
        c.Must("INSERT INTO sessions(name, created, expires) VALUES($1, $2, $3) "
               "ON CONFLICT (name) DO UPDATE SET expires = excluded.expires",
               pg::Params().Text(name).Int(now).Int(now + ttl.count()));
        return 0;
    });
}

Store::SessionState PostgresStore::GetSession(std::string_view name) {
    pg::Result r = Query([&](pg::Connection& c) {
        return c.Must("SELECT expires FROM sessions WHERE name = $1", pg::Params().Text(name));
    });
    if (r.Rows() != 1) {
        return SessionState::Unknown;
    }
    return r.Int(0, 0) > NowMs() ? SessionState::Active : SessionState::Expired;
}

std::vector<StoredPicture> PostgresStore::SessionPictures(std::string_view session,
                                                          std::int64_t afterSeq) {
    std::string sql = std::string("SELECT ") + kPictureColumns +
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

std::optional<StoredPicture> PostgresStore::FindPicture(std::string_view name) {
    if (!IsPictureName(name)) {
        return std::nullopt;
    }
    std::string sql = std::string("SELECT ") + kPictureColumns + " FROM pictures WHERE name = $1";
    pg::Result r =
        Query([&](pg::Connection& c) { return c.Must(sql.c_str(), pg::Params().Text(name)); });
    if (r.Rows() != 1) {
        return std::nullopt;
    }
    return PictureFromRow(r, 0);
}

std::optional<PictureContent> PostgresStore::ReadPicture(std::string_view name) {
    if (!IsPictureName(name)) {
        return std::nullopt;
    }
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

std::int64_t PostgresStore::LastSeq() {
    pg::Result r =
        Query([&](pg::Connection& c) { return c.Must("SELECT last FROM change_counter"); });
    std::int64_t last = r.Int(0, 0);
    Known(last);
    return last;
}

std::string PostgresStore::Describe() const {
    return "database postgresql://" + where_;
}

} // namespace glimmerly::service
