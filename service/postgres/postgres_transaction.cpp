#include "service/postgres/postgres_transaction.h"

#include "service/postgres/postgres_schema.h"

namespace glimmerly::service::pg {

namespace {

constexpr const char* kUniqueViolation = "23505";

// A CTE that only reads is evaluated when the query refers to it, so pg_notify sits in the
// outer query over the stamped row: it runs exactly once when the picture exists.
constexpr const char* kRaiseStampAndNotify =
    "WITH counter AS (UPDATE change_counter SET last = last + 1 WHERE id = 1 RETURNING last), "
    "stamped AS (UPDATE pictures SET seq = counter.last FROM counter WHERE pictures.id = $1 "
    "RETURNING counter.last AS last) "
    "SELECT last, pg_notify($2, last::text) FROM stamped";

} // namespace

bool Transaction::ExtendSession(std::string_view name, std::int64_t now, std::int64_t expires) {
    Result r = c_.Must("UPDATE sessions SET expires = $1 WHERE name = $2 AND expires > $3",
                       Params().Int(expires).Text(name).Int(now));
    return r.Affected() == 1;
}

std::int64_t Transaction::SeriesNext(std::string_view base) {
    // Inserts the counter when it is new, and locks its row either way (waiting for an instance
    // that holds it and then reading what that one left).
    Result r = c_.Must("INSERT INTO name_series(base, next) VALUES($1, 1) ON CONFLICT (base) "
                       "DO UPDATE SET next = name_series.next RETURNING next",
                       Params().Text(base));
    return r.Int(0, 0);
}

void Transaction::SetSeriesNext(std::string_view base, std::int64_t next) {
    c_.Must("UPDATE name_series SET next = $2 WHERE base = $1", Params().Text(base).Int(next));
}

std::optional<std::int64_t> Transaction::InsertIfNameFree(const NewPicture& p) {
    Params params;
    params.Text(p.name).Text(p.title);
    if (p.session.empty()) {
        params.Null();
    } else {
        params.Text(p.session);
    }
    params.Int(static_cast<std::int64_t>(p.jpeg.size()))
        .Int(p.width)
        .Int(p.height)
        .Int(p.created)
        .Binary(p.jpeg);
    if (p.owner.empty()) {
        params.Null();
    } else {
        params.Text(p.owner);
    }
    // The name is taken with the picture's id to come; when another transaction holds it, the
    // insert waits for that one's end and takes nothing if it committed.
    Result inserted =
        c_.Must("WITH given AS (INSERT INTO given_names(name, picture) "
                "VALUES($1, nextval(pg_get_serial_sequence('pictures', 'id'))) "
                "ON CONFLICT (name) DO NOTHING RETURNING name, picture) "
                "INSERT INTO pictures(id, name, title, session, size, width, height, created, "
                "seq, jpeg, owner) SELECT given.picture, given.name, $2, $3, $4, $5, $6, $7, 0, "
                "$8, $9 FROM given RETURNING id",
                params);
    if (inserted.Rows() != 1) {
        return std::nullopt;
    }
    return inserted.Int(0, 0);
}

std::optional<PictureToChange> Transaction::FindForChange(std::string_view name) {
    Result found = c_.Must("SELECT id, coalesce(owner, '') FROM pictures WHERE name = $1 "
                           "FOR UPDATE",
                           Params().Text(name));
    if (found.Rows() != 1) {
        return std::nullopt;
    }
    return PictureToChange{found.Int(0, 0), found.Text(0, 1)};
}

bool Transaction::RenameIfFree(std::int64_t id, std::string_view name, std::string_view title) {
    Result given = c_.Must("INSERT INTO given_names(name, picture) VALUES($1, $2) "
                           "ON CONFLICT (name) DO NOTHING RETURNING picture",
                           Params().Text(name).Int(id));
    if (given.Rows() != 1) {
        // Given out before: free only when to this very picture.
        Result to = c_.Must("SELECT picture FROM given_names WHERE name = $1", Params().Text(name));
        if (to.Rows() != 1 || to.Int(0, 0) != id) {
            return false;
        }
    }
    Result updated = c_.Exec("UPDATE pictures SET name = $1, title = $2 WHERE id = $3",
                             Params().Text(name).Text(title).Int(id));
    if (updated.ok()) {
        return true;
    }
    if (updated.SqlState() == kUniqueViolation) {
        return false; // the transaction is in error now and gets rolled back
    }
    throw StatementFailed(updated.Message());
}

void Transaction::DeletePicture(std::int64_t id) {
    c_.Must("DELETE FROM pictures WHERE id = $1", Params().Int(id));
}

std::int64_t Transaction::RecordChange(std::int64_t pictureId) {
    // One statement raises the counter, stamps the picture and queues the notice, so the counter
    // row is held for one round trip less before the commit. PostgreSQL sends the notice at the
    // commit, never for a change that is rolled back; its payload, the new count, is only a hint
    // to the listeners, which read the changes themselves.
    Result r = c_.Must(kRaiseStampAndNotify, Params().Int(pictureId).Text(kChangeChannel));
    return r.Int(0, 0);
}

} // namespace glimmerly::service::pg
