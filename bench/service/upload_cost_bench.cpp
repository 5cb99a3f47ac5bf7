// What an upload costs on PostgreSQL flushing its commits (fsync on, as in production): the CPU
// time each process spends per upload (the service instances; PostgreSQL, postmaster and every
// backend; haproxy), the database's statement time and WAL flushes per upload, for one instance
// and for two behind haproxy (the change notice folded into the counter's statement; the notice
// as a statement of its own is compared in the replay below). CPU time rather than wall time: the
// machine's cores are shared, and a process's CPU time per upload hardly moves with that.
//
// Then the upload transaction alone, replayed by pgbench at full speed in four shapes, gives
// the throughput one database can take and what bounds it.
//
//   bench_service_upload_cost [uploads] [clients] [rounds] [pgbench seconds]  (400 8 3 4)

#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/service/process_cpu.h"
#include "bench/service/transaction_replay.h"
#include "tests/service/haproxy.h"
#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace {

using namespace glimmerly::service::test;
using namespace glimmerly::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Settings {
    int uploads = 400;
    int clients = 8;
    int rounds = 3;
    int pgbenchSeconds = 4;
};

std::string Name(const std::string& address) {
    return address.substr(address.rfind('/') + 1);
}

// Counters of the cluster since the last Reset: statement time by kind, and WAL flushes. A
// statement's time in pg_stat_statements ends before its commit: COMMIT's flush shows only in
// pg_stat_wal.
struct DbTime {
    double totalMs = 0;    // all statements of the database
    double counterMs = 0;  // the counter's statement (its wait for the row included) and the notice
    double statements = 0; // statements of the database, BEGIN and COMMIT included
    double flushes = 0;    // WAL flushes (fsync of the WAL) of the whole cluster
    double flushMs = 0;
};

void Reset(PgCluster& cluster) {
    Query(cluster, "postgres", "SELECT pg_stat_statements_reset()");
    Query(cluster, "postgres", "SELECT pg_stat_reset_shared('wal')");
}

DbTime ReadDbTime(PgCluster& cluster, const std::string& database) {
    DbTime t;
    auto rows = Query(cluster, "postgres",
                      "SELECT sum(total_exec_time), "
                      "sum(total_exec_time) FILTER (WHERE query LIKE '%change_counter%' OR "
                      "query LIKE 'SELECT pg_notify%'), sum(calls) "
                      "FROM pg_stat_statements s JOIN pg_database d ON d.oid = s.dbid "
                      "WHERE d.datname = '" +
                          database + "'");
    t.totalMs = Number(rows, 0);
    t.counterMs = Number(rows, 1);
    t.statements = Number(rows, 2);
    rows = Query(cluster, "postgres", "SELECT wal_sync, wal_sync_time FROM pg_stat_wal");
    t.flushes = Number(rows, 0);
    t.flushMs = Number(rows, 1);
    return t;
}

struct Sample {
    double serviceMs = 0, postgresMs = 0, haproxyMs = 0; // CPU per upload
    double rate = 0;                                     // uploads per second
    DbTime db;                                           // per upload
};

struct Setup {
    const char* name;
    int instances;
    std::vector<Sample> samples;
};

// Runs the uploads of one round on a fresh database and returns what they cost; false when the
// set-up did not start or an upload failed.
bool Measure(PgCluster& cluster, const TempDir& temp, const Settings& s, unsigned seed,
             Setup& setup, std::string* keepDatabase = nullptr) {
    const std::string database = cluster.NewDatabase();
    std::vector<std::unique_ptr<ServiceProcess>> instances;
    std::vector<std::uint16_t> uploads, services;
    for (int i = 0; i < setup.instances; ++i) {
        instances.push_back(std::make_unique<ServiceProcess>(
            temp.Root() / (std::to_string(seed) + "-" + std::to_string(i)),
            std::vector<std::string>{"--database", database, "--per-address-limit", "512"}));
        if (!instances.back()->ok()) {
            return false;
        }
        uploads.push_back(instances.back()->uploadPort());
        services.push_back(instances.back()->servicePort());
    }
    std::unique_ptr<HaproxyProcess> balancer;
    std::uint16_t port = uploads[0];
    if (setup.instances > 1) {
        const fs::path folder = temp.Root() / std::to_string(seed);
        fs::create_directories(folder);
        balancer = std::make_unique<HaproxyProcess>(folder, uploads, services);
        if (!balancer->ok()) {
            return false;
        }
        port = balancer->uploadPort();
    }
    // A session per client, as for a team whose members each upload to their own.
    for (int c = 0; c < s.clients; ++c) {
        ClientGet(services[0], "/loginsession.php?sessionname=bench" + std::to_string(c));
    }
    const std::string base = MakeJpeg(320, 200, seed);
    auto run = [&](int count, unsigned offset) {
        std::atomic<int> next{0}, failed{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < s.clients; ++c) {
            threads.emplace_back([&, c] {
                UploadFields fields;
                fields.sessionName = "bench" + std::to_string(c);
                for (int i; (i = next++) < count;) {
                    std::string jpeg = WithComment(base, seed * 100000 + offset + i);
                    if (NameFromReply(Upload(port, jpeg, fields).body).empty()) {
                        ++failed;
                    }
                }
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        return failed == 0;
    };
    // Warm-up: every pool connection opened, the tables' first pages there.
    if (!run(std::max(20, s.clients * 4), 90000)) {
        return false;
    }
    Reset(cluster);
    const pid_t postmaster = cluster.Postmaster();
    double service0 = 0;
    for (auto& i : instances) {
        service0 += CpuSeconds(i->pid());
    }
    const double pg0 = TreeCpuSeconds(postmaster);
    const double ha0 = balancer ? CpuSeconds(balancer->pid()) : 0;
    const auto start = Clock::now();
    if (!run(s.uploads, 0)) {
        return false;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double service1 = 0;
    for (auto& i : instances) {
        service1 += CpuSeconds(i->pid());
    }
    Sample m;
    const double n = s.uploads;
    m.serviceMs = (service1 - service0) * 1000 / n;
    m.postgresMs = (TreeCpuSeconds(postmaster) - pg0) * 1000 / n;
    m.haproxyMs = balancer ? (CpuSeconds(balancer->pid()) - ha0) * 1000 / n : 0;
    m.rate = n / seconds;
    // A backend hands its WAL counters to the shared statistics when it ends (an idle one only
    // after seconds): stop the instances and wait for their connections to go first.
    balancer.reset();
    instances.clear();
    for (int i = 0; i < 100 && Number(Query(cluster, "postgres",
                                            "SELECT count(*) FROM pg_stat_activity WHERE "
                                            "datname = '" +
                                                Name(database) + "'")) > 0;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    m.db = ReadDbTime(cluster, Name(database));
    m.db.totalMs /= n;
    m.db.counterMs /= n;
    m.db.statements /= n;
    m.db.flushMs = m.db.flushes > 0 ? m.db.flushMs / m.db.flushes : 0;
    m.db.flushes /= n;
    setup.samples.push_back(m);
    if (keepDatabase) {
        *keepDatabase = Name(database);
    }
    return true;
}

std::string FileSystemOf(const std::string& path) {
    struct statfs f {};
    if (::statfs(path.c_str(), &f) != 0) {
        return "?";
    }
    switch (f.f_type) {
    case 0x01021994:
        return "tmpfs: flushes cost nothing, the numbers do not show the disk";
    case 0xEF53:
        return "ext4";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x794C7630:
        return "overlayfs";
    default:
        return "file system 0x" + std::to_string(f.f_type);
    }
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    int* fields[] = {&s.uploads, &s.clients, &s.rounds, &s.pgbenchSeconds};
    for (int i = 1; i < argc && i <= 4; ++i) {
        *fields[i - 1] = std::atoi(argv[i]);
    }
    if (s.uploads < 1 || s.clients < 1 || s.rounds < 1 || s.pgbenchSeconds < 1) {
        std::fprintf(stderr, "usage: %s [uploads] [clients] [rounds] [pgbench seconds]\n", argv[0]);
        return 2;
    }
    PgCluster* cluster = PgCluster::Flushing();
    if (!cluster) {
        std::fprintf(stderr, "no PostgreSQL: %s\n", PgCluster::Why().c_str());
        return 1;
    }
    Query(*cluster, "postgres", "CREATE EXTENSION IF NOT EXISTS pg_stat_statements");
    TempDir temp{"glimmerly-bench"};
    Setup setups[] = {
        {"one instance", 1, {}},
        {"two behind haproxy", 2, {}},
    };
    std::string replayDatabase;
    // Rounds go through the set-ups in turn, so a slow spell of the machine hits all of them.
    for (int round = 0; round < s.rounds; ++round) {
        for (std::size_t i = 0; i < std::size(setups); ++i) {
            const bool keep = round == s.rounds - 1 && i == 0;
            if (!Measure(*cluster, temp, s, static_cast<unsigned>(round * 10 + i + 1), setups[i],
                         keep ? &replayDatabase : nullptr)) {
                std::fprintf(stderr, "%s: did not start, or an upload failed\n", setups[i].name);
                return 1;
            }
        }
    }

    std::printf("PostgreSQL 15 with fsync=on, its data in %s (%s)\n",
                fs::temp_directory_path().c_str(),
                FileSystemOf(fs::temp_directory_path().string()).c_str());
    std::printf("%d uploads of a 320x200 JPEG (about %zu bytes) from %d clients, one session "
                "each; medians of %d rounds\n\n",
                s.uploads, MakeJpeg(320, 200, 1).size() + 200, s.clients, s.rounds);
    std::printf("CPU time per upload, ms       service  PostgreSQL  haproxy   total\n");
    for (Setup& setup : setups) {
        auto med = [&](auto field) {
            std::vector<double> v;
            for (const Sample& m : setup.samples) {
                v.push_back(field(m));
            }
            return Median(v);
        };
        const double service = med([](const Sample& m) { return m.serviceMs; });
        const double pg = med([](const Sample& m) { return m.postgresMs; });
        const double ha = med([](const Sample& m) { return m.haproxyMs; });
        std::printf("%-29s %8.2f %11.2f %8.2f %7.2f\n", setup.name, service, pg, ha,
                    service + pg + ha);
    }
    std::printf("\nDatabase per upload            statements  other ms  counter ms  "
                "WAL flushes  ms/flush  uploads/s\n");
    for (Setup& setup : setups) {
        auto med = [&](auto field) {
            std::vector<double> v;
            for (const Sample& m : setup.samples) {
                v.push_back(field(m));
            }
            return Median(v);
        };
        std::printf("%-29s %11.2f %9.2f %11.2f %12.2f %9.2f %10.0f\n", setup.name,
                    med([](auto& m) { return m.db.statements; }),
                    med([](auto& m) { return m.db.totalMs - m.db.counterMs; }),
                    med([](auto& m) { return m.db.counterMs; }),
                    med([](auto& m) { return m.db.flushes; }),
                    med([](auto& m) { return m.db.flushMs; }), med([](auto& m) { return m.rate; }));
    }
    std::printf(
        "statements: how many the service sent per upload (its listeners' included)\n"
        "other:      time inside the server of all statements but the counter's\n"
        "counter:    the counter's statement (and the notice), mostly waiting for the counter's\n"
        "            row, which the upload before holds until its commit is flushed\n"
        "WAL flushes of the whole cluster per upload, and their mean time\n"
        "uploads/s:  wall time on a shared machine, for orientation only\n\n");

    // The transaction alone: on the last one-instance database of the flushing cluster, and on a
    // cluster without fsync, where a commit costs no flush and what remains is the work done
    // while the counter's row is held.
    const std::vector<Shape> flushed = ReplayUploadTransaction(
        *cluster, replayDatabase, temp.Root(), s.clients, s.pgbenchSeconds, s.rounds);
    std::vector<Shape> unflushed;
    if (PgCluster* quick = PgCluster::Shared()) {
        const std::string database = quick->NewDatabase();
        {
            ServiceProcess schema(temp.Root() / "schema", {"--database", database});
            for (int c = 0; c < s.clients; ++c) {
                ClientGet(schema.servicePort(),
                          "/loginsession.php?sessionname=bench" + std::to_string(c));
            }
        }
        unflushed = ReplayUploadTransaction(*quick, Name(database), temp.Root(), s.clients,
                                            s.pgbenchSeconds, s.rounds);
    }
    if (flushed.empty() || unflushed.empty()) {
        return 1;
    }
    std::printf("\nThe upload transaction alone (pgbench, %d clients, %d s, medians of %d "
                "rounds)\n",
                s.clients, s.pgbenchSeconds, s.rounds);
    std::printf("                                      fsync=on                 fsync=off\n");
    std::printf(
        "shape                               tx/s  PG CPU ms each   tx/s  PG CPU ms each\n");
    for (std::size_t i = 0; i < flushed.size(); ++i) {
        std::printf("%-32s %7.0f %15.2f %6.0f %15.2f\n", flushed[i].name.c_str(),
                    Median(flushed[i].rates), Median(flushed[i].cpuMs), Median(unflushed[i].rates),
                    Median(unflushed[i].cpuMs));
    }
    const double cpuEach = Median(flushed[1].cpuMs);
    std::vector<double> flushMs;
    for (const Sample& m : setups[1].samples) {
        flushMs.push_back(m.db.flushMs);
    }
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    const double folded = Median(flushed[1].rates);
    std::printf("\nCeiling of one database for uploads (the folded transaction, fsync=on):\n"
                "  CPU bound:   %ld cores / %.2f ms of PostgreSQL CPU per upload = %.0f uploads/s\n"
                "  order bound: the counter's row is held from its statement until the commit's "
                "WAL flush\n"
                "               (%.2f ms on average here) is done, so the uploads' commits follow "
                "one another:\n"
                "               %.0f transactions/s measured = %.2f ms each; without the counter "
                "%.0f/s\n",
                cores, cpuEach, cpuEach > 0 ? cores * 1000 / cpuEach : 0, Median(flushMs), folded,
                folded > 0 ? 1000 / folded : 0, Median(flushed[3].rates));
    return 0;
}
