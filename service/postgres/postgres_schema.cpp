// The PostgreSQL store's tables, created or brought up to date when a service starts.

#include "service/postgres/postgres_schema.h"

#include <iterator>

namespace glimmerly::service::pg {

namespace {

// Step n brings a database from version n to n + 1. Never change a step that has shipped;
// append a new one instead.
constexpr const char* kSteps[] = {
    R"sql(
CREATE TABLE sessions(
    name    text PRIMARY KEY,
    created bigint NOT NULL,
    expires bigint NOT NULL
);
CREATE TABLE pictures(
    id      bigserial PRIMARY KEY,
    name    text NOT NULL UNIQUE,
    title   text NOT NULL,
    session text,
    size    integer NOT NULL,
    width   integer NOT NULL,
    height  integer NOT NULL,
    created bigint NOT NULL,
    seq     bigint NOT NULL,
    jpeg    bytea NOT NULL CHECK (octet_length(jpeg) <= 307200)
);
CREATE INDEX pictures_by_session ON pictures(session, seq);
-- The change counter: one row, raised by every upload and rename as the last statement of its
-- transaction. Its row lock makes changes commit in counter order.
CREATE TABLE change_counter(
    id   integer PRIMARY KEY CHECK (id = 1),
    last bigint NOT NULL
);
INSERT INTO change_counter VALUES (1, 0);
)sql",
    // The live pages' reader takes the changes after a count, of every session at once.
    R"sql(
CREATE INDEX pictures_by_seq ON pictures(seq);
)sql",
    // Owners of pictures, and every name ever given out (to the picture it was given to), which
    // is never given to another; existing names are given to their pictures. The counters say
    // where a series of names goes on. Both are found by equality on their primary key, which
    // the index serves under any collation.
    R"sql(
ALTER TABLE pictures ADD COLUMN owner text;
CREATE TABLE given_names(
    name    text PRIMARY KEY,
    picture bigint NOT NULL
);
INSERT INTO given_names SELECT name, id FROM pictures;
CREATE TABLE name_series(
    base text PRIMARY KEY,
    next bigint NOT NULL
);
)sql",
};

} // namespace

const int kSchemaVersion = static_cast<int>(std::size(kSteps));

bool PrepareSchema(Connection& c, std::string& error) {
    try {
        c.Must("BEGIN");
        // Instances starting together take turns here.
        c.Must("SELECT pg_advisory_xact_lock(7305411)");
        c.Must("CREATE TABLE IF NOT EXISTS glimmerly_schema(version integer NOT NULL)");
        Result r = c.Must("SELECT max(version) FROM glimmerly_schema");
        int version = r.Rows() == 1 && !r.Text(0, 0).empty() ? static_cast<int>(r.Int(0, 0)) : 0;
        if (version > kSchemaVersion) {
            c.Exec("ROLLBACK");
            error = "the database " + c.Where() + " has schema version " + std::to_string(version) +
                    ", but this glimmerly-service knows only up to " +
                    std::to_string(kSchemaVersion) + "; this program is too old for it";
            return false;
        }
        for (int step = version; step < kSchemaVersion; ++step) {
            // Several statements in one string: the simple query protocol takes them at once.
            c.Script(kSteps[step]);
        }
        if (version == 0) {
            c.Must("INSERT INTO glimmerly_schema VALUES ($1)", Params().Int(kSchemaVersion));
        } else if (version < kSchemaVersion) {
            c.Must("UPDATE glimmerly_schema SET version = $1", Params().Int(kSchemaVersion));
        }
        c.Must("COMMIT");
        return true;
    } catch (const std::exception& e) {
        if (c.ok()) {
            c.Exec("ROLLBACK");
        }
        error = "cannot set up the database " + c.Where() + ": " + e.what();
        return false;
    }
}

} // namespace glimmerly::service::pg
