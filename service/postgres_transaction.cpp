#include "service/postgres_transaction.h"

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
    Result r = c_.Must("WITH counter AS (UPDATE change_counter SET last = last + 1 WHERE id = 1 "
                       "RETURNING last) UPDATE pictures SET seq = counter.last FROM counter "
                       "WHERE pictures.id = $1 RETURNING counter.last",
                       Params().Int(pictureId));
    std::int64_t seq = r.Int(0, 0);
    c_.Must("SELECT pg_notify($1, $2)", Params().Text(kChangeChannel).Text(std::to_string(seq)));
    return seq;
}

} // namespace glimmerly::service::pg
