#include "service/postgres_transaction.h"

#include <cstdlib>

#include "service/postgres_storage.h"

namespace glimmerly::service::pg {

namespace {

constexpr const char* kUniqueViolation = "23505";

// The LIKE pattern of the names base-2, base-3, …: base with the wildcards escaped ("_" is one of
// the name characters), then "-%".
std::string SeriesPattern(std::string_view base) {
    std::string out;
    for (char c : base) {
        if (c == '_' || c == '%' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "-%";
}

constexpr const char* kRaiseAndStamp =
    "WITH counter AS (UPDATE change_counter SET last = last + 1 WHERE id = 1 RETURNING last) "
    "UPDATE pictures SET seq = counter.last FROM counter WHERE pictures.id = $1 "
    "RETURNING counter.last";

// A CTE that only reads is evaluated when the query refers to it, so pg_notify sits in the
// outer query over the stamped row: it runs exactly once when the picture exists.
constexpr const char* kRaiseStampAndNotify =
    "WITH counter AS (UPDATE change_counter SET last = last + 1 WHERE id = 1 RETURNING last), "
    "stamped AS (UPDATE pictures SET seq = counter.last FROM counter WHERE pictures.id = $1 "
    "RETURNING counter.last AS last) "
    "SELECT last, pg_notify($2, last::text) FROM stamped";

// For measuring what the fold saves: GLIMMERLY_PG_NOTICE_APART=1 sends the notice as a statement
// of its own after the counter's, as earlier versions did. Never needed in operation.
bool NoticeApart() {
    const char* apart = std::getenv("GLIMMERLY_PG_NOTICE_APART");
    return apart && std::string_view(apart) == "1";
}

} // namespace

bool Transaction::ExtendSession(std::string_view name, std::int64_t now, std::int64_t expires) {
    Result r = c_.Must("UPDATE sessions SET expires = $1 WHERE name = $2 AND expires > $3",
                       Params().Int(expires).Text(name).Int(now));
    return r.Affected() == 1;
}

std::vector<std::string> Transaction::NamesInSeries(std::string_view base) {
    Result r = c_.Must("SELECT name FROM pictures WHERE name = $1 OR name LIKE $2",
                       Params().Text(base).Text(SeriesPattern(base)));
    std::vector<std::string> names;
    for (int i = 0; i < r.Rows(); ++i) {
        names.push_back(r.Text(i, 0));
    }
    return names;
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
    Result inserted =
        c_.Must("INSERT INTO pictures(name, title, session, size, width, height, created, seq, "
                "jpeg) VALUES($1, $2, $3, $4, $5, $6, $7, 0, $8) ON CONFLICT (name) DO NOTHING "
                "RETURNING id",
                params);
    if (inserted.Rows() != 1) {
        return std::nullopt;
    }
    return inserted.Int(0, 0);
}

std::optional<std::int64_t> Transaction::FindForChange(std::string_view name) {
    Result found =
        c_.Must("SELECT id FROM pictures WHERE name = $1 FOR UPDATE", Params().Text(name));
    if (found.Rows() != 1) {
        return std::nullopt;
    }
    return found.Int(0, 0);
}

bool Transaction::RenameIfFree(std::int64_t id, std::string_view name, std::string_view title) {
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

std::int64_t Transaction::RecordChange(std::int64_t pictureId) {
    // One statement raises the counter, stamps the picture and queues the notice, so the counter
    // row is held for one round trip less before the commit. PostgreSQL sends the notice at the
    // commit, never for a change that is rolled back; its payload, the new count, is only a hint
    // to the listeners, which read the changes themselves.
    static const bool apart = NoticeApart();
    if (apart) {
        Result r = c_.Must(kRaiseAndStamp, Params().Int(pictureId));
        std::int64_t seq = r.Int(0, 0);
        c_.Must("SELECT pg_notify($1, $2)",
                Params().Text(kChangeChannel).Text(std::to_string(seq)));
        return seq;
    }
    Result r = c_.Must(kRaiseStampAndNotify, Params().Int(pictureId).Text(kChangeChannel));
    return r.Int(0, 0);
}

} // namespace glimmerly::service::pg
