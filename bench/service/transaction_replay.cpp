#include "bench/service/transaction_replay.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <libpq-fe.h>

#include "bench/service/process_cpu.h"

namespace glimmerly::bench {

using service::test::PgCluster;

Rows Query(PgCluster& cluster, const std::string& database, const std::string& sql) {
    Rows rows;
    PGconn* conn = PQconnectdb(cluster.Address(database).c_str());
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
        for (int i = 0; i < PQntuples(r); ++i) {
            rows.emplace_back();
            for (int j = 0; j < PQnfields(r); ++j) {
                rows.back().push_back(PQgetvalue(r, i, j));
            }
        }
    } else if (PQresultStatus(r) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "%s: %s", sql.c_str(), PQerrorMessage(conn));
    }
    PQclear(r);
    PQfinish(conn);
    return rows;
}

double Number(const Rows& rows, int column) {
    return rows.empty() || rows[0][column].empty() ? 0 : std::atof(rows[0][column].c_str());
}

namespace {

// The statements before the counter's: each client in a session of its own, a picture the size
// of the benchmark's JPEG. :id and :seq are set by \gset from the statement before.
std::string TransactionHead(int clients) {
    return "\\set session :client_id % " + std::to_string(clients) +
           "\n"
           "BEGIN;\n"
           "UPDATE sessions SET expires = expires + 1 WHERE name = 'bench' || :session::text "
           "AND expires > 0;\n"
           "INSERT INTO pictures(name, title, session, size, width, height, created, seq, jpeg) "
           "SELECT 'q' || txid_current(), 'Messung', 'bench' || :session::text, octet_length(b), "
           "320, 200, 0, 0, b FROM bench_jpeg RETURNING id \\gset\n";
}

constexpr const char* kCounter =
    "WITH counter AS (UPDATE change_counter SET last = last + 1 WHERE id = 1 RETURNING last) "
    "UPDATE pictures SET seq = counter.last FROM counter WHERE pictures.id = :id "
    "RETURNING counter.last AS seq \\gset\n";

constexpr const char* kCounterAndNotice =
    "WITH counter AS (UPDATE change_counter SET last = last + 1 WHERE id = 1 RETURNING last), "
    "stamped AS (UPDATE pictures SET seq = counter.last FROM counter WHERE pictures.id = :id "
    "RETURNING counter.last AS last) "
    "SELECT last, pg_notify('glimmerly_changes', last::text) FROM stamped;\n";

struct ShapeText {
    const char* name;
    std::string tail; // after the INSERT, before the COMMIT
};

// Runs pgbench with one script; transactions per second, 0 on failure.
double Pgbench(PgCluster& cluster, const std::string& database, const std::string& script,
               int clients, int seconds) {
    const std::string command =
        cluster.Program("pgbench") + " -n -M extended -h 127.0.0.1 -U postgres -p " +
        std::to_string(cluster.Port()) + " -c " + std::to_string(clients) + " -j 2 -T " +
        std::to_string(seconds) + " -f " + script + " " + database + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return 0;
    }
    double tps = 0;
    std::string output;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        output += line;
        std::sscanf(line, "tps = %lf (without initial connection time)", &tps);
    }
    if (::pclose(pipe) != 0 || tps == 0) {
        std::fprintf(stderr, "pgbench failed:\n%s", output.c_str());
        return 0;
    }
    return tps;
}

} // namespace

std::vector<Shape> ReplayUploadTransaction(PgCluster& cluster, const std::string& database,
                                           const std::filesystem::path& folder, int clients,
                                           int seconds, int rounds) {
    // 26 KB that do not compress, like a JPEG.
    Query(cluster, database,
          "CREATE TABLE IF NOT EXISTS bench_jpeg AS SELECT string_agg(decode(md5(i::text), "
          "'hex'), '') AS b FROM generate_series(1, 1640) i");
    const ShapeText texts[] = {
        {"counter, notice apart (before)",
         std::string(kCounter) + "SELECT pg_notify('glimmerly_changes', :seq::text);\n"},
        {"counter and notice folded (now)", kCounterAndNotice},
        {"counter alone, no notice", kCounter},
        {"no counter (no change order)", ""},
    };
    PGconn* listener = PQconnectdb(cluster.Address(database).c_str());
    PQclear(PQexec(listener, "LISTEN glimmerly_changes"));
    std::atomic<bool> listening{true};
    std::thread drain([&] {
        while (listening) {
            PQconsumeInput(listener);
            while (PGnotify* n = PQnotifies(listener)) {
                PQfreemem(n);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::vector<Shape> shapes;
    for (const ShapeText& t : texts) {
        shapes.push_back({t.name, {}, {}});
    }
    bool failed = false;
    for (int round = 0; round < rounds && !failed; ++round) {
        for (std::size_t i = 0; i < std::size(texts) && !failed; ++i) {
            const std::string script = folder / ("shape" + std::to_string(i) + ".sql");
            std::ofstream(script) << TransactionHead(clients) + texts[i].tail + "COMMIT;\n";
            const pid_t postmaster = cluster.Postmaster();
            const double cpu0 = TreeCpuSeconds(postmaster);
            const double tps = Pgbench(cluster, database, script, clients, seconds);
            const double cpu = TreeCpuSeconds(postmaster) - cpu0;
            failed = tps == 0;
            shapes[i].rates.push_back(tps);
            shapes[i].cpuMs.push_back(tps > 0 ? cpu * 1000 / (tps * seconds) : 0);
        }
    }
    listening = false;
    drain.join();
    PQfinish(listener);
    return failed ? std::vector<Shape>() : shapes;
}

} // namespace glimmerly::bench
