// Upload rate of glimmerly-service on its set-ups, side by side from one run: SQLite and files,
// one instance on PostgreSQL, and two instances on PostgreSQL behind haproxy. Each set-up starts
// fresh (new data folder or database), takes the same uploads from the same number of parallel
// clients, and the best of the rounds counts. Prints uploads per second and the ratio to SQLite.
//
// The tests' PostgreSQL cluster runs without fsync, while the SQLite store flushes every upload
// to disk; SQLite with its data folder in memory (/dev/shm, where a flush costs nothing) is
// measured as well, so that the comparison with PostgreSQL is between equals.
//
//   bench_service_upload_rate [uploads] [clients] [rounds]      (default 800 16 3)

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/haproxy.h"
#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace {

using namespace glimmerly::service::test;
using Clock = std::chrono::steady_clock;

struct Settings {
    int uploads = 800;
    int clients = 16;
    int rounds = 3;
};

// Uploads per second of `count` distinct pictures sent by `clients` threads to port; -1 when one
// of them is not stored.
double Rate(std::uint16_t port, const Settings& s, unsigned seed) {
    const std::string base = MakeJpeg(320, 200, seed);
    std::vector<std::string> jpegs;
    for (int i = 0; i < s.uploads; ++i) {
        jpegs.push_back(WithComment(base, seed * 100000 + static_cast<unsigned>(i)));
    }
    std::atomic<int> next{0};
    std::atomic<int> failed{0};
    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < s.clients; ++c) {
        threads.emplace_back([&] {
            UploadFields fields;
            fields.screenshotName = "Messung";
            fields.sessionName = "bench";
            for (int i; (i = next++) < s.uploads;) {
                if (NameFromReply(Upload(port, jpegs[i], fields).body).empty()) {
                    ++failed;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return failed ? -1 : s.uploads / seconds;
}

struct Setup {
    const char* name;
    // Starts the set-up in folder and returns the upload port to measure, 0 on failure; keep
    // holds what must stay running.
    std::function<std::uint16_t(const std::filesystem::path&, std::vector<std::shared_ptr<void>>&)>
        start;
};

std::uint16_t StartInstances(int count, const std::filesystem::path& folder,
                             std::vector<std::shared_ptr<void>>& keep) {
    std::vector<std::string> args;
    if (count > 0) {
        PgCluster* cluster = PgCluster::Shared();
        if (!cluster) {
            std::fprintf(stderr, "no PostgreSQL: %s\n", PgCluster::Why().c_str());
            return 0;
        }
        args = {"--database", cluster->NewDatabase(), "--per-address-limit", "512"};
    }
    std::vector<std::uint16_t> uploads, services;
    for (int i = 0; i < std::max(count, 1); ++i) {
        auto service =
            std::make_shared<ServiceProcess>(folder / ("data" + std::to_string(i)), args);
        if (!service->ok()) {
            return 0;
        }
        ClientGet(service->servicePort(), "/loginsession.php?sessionname=bench");
        uploads.push_back(service->uploadPort());
        services.push_back(service->servicePort());
        keep.push_back(service);
    }
    if (count < 2) {
        return uploads.front();
    }
    auto balancer = std::make_shared<HaproxyProcess>(folder, uploads, services);
    keep.push_back(balancer);
    return balancer->ok() ? balancer->uploadPort() : 0;
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    if (argc > 1)
        s.uploads = std::atoi(argv[1]);
    if (argc > 2)
        s.clients = std::atoi(argv[2]);
    if (argc > 3)
        s.rounds = std::atoi(argv[3]);
    if (s.uploads < 1 || s.clients < 1 || s.rounds < 1) {
        std::fprintf(stderr, "usage: %s [uploads] [clients] [rounds]\n", argv[0]);
        return 2;
    }
    const Setup setups[] = {
        {"SQLite, one instance", [](auto& f, auto& k) { return StartInstances(0, f, k); }},
        {"SQLite, data in memory", [](auto& f, auto& k) { return StartInstances(0, f, k); }},
        {"PostgreSQL, one instance", [](auto& f, auto& k) { return StartInstances(1, f, k); }},
        {"PostgreSQL, two behind haproxy",
         [](auto& f, auto& k) { return StartInstances(2, f, k); }},
    };
    std::vector<double> best(std::size(setups), 0);
    // Rounds go through the set-ups in turn, so a slow spell of the machine hits all of them.
    for (int round = 0; round < s.rounds; ++round) {
        for (std::size_t i = 0; i < std::size(setups); ++i) {
            const bool inMemory = i == 1;
            const char* tmp = std::getenv("TMPDIR");
            std::string saved = tmp ? tmp : "";
            if (inMemory) {
                ::setenv("TMPDIR", "/dev/shm", 1);
            }
            TempDir temp{"glimmerly-bench"};
            if (inMemory) {
                tmp ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
            }
            std::vector<std::shared_ptr<void>> keep;
            std::uint16_t port = setups[i].start(temp.Root(), keep);
            if (!port) {
                std::fprintf(stderr, "%s did not start\n", setups[i].name);
                return 1;
            }
            double rate = Rate(port, s, static_cast<unsigned>(round * 10 + i + 1));
            if (rate < 0) {
                std::fprintf(stderr, "%s: an upload failed\n", setups[i].name);
                return 1;
            }
            best[i] = std::max(best[i], rate);
        }
    }
    std::printf("%d uploads of a 320x200 JPEG from %d clients, best of %d rounds\n", s.uploads,
                s.clients, s.rounds);
    std::printf("(PostgreSQL runs without fsync: compare it with SQLite's data in memory)\n");
    std::printf("%-32s %10s %10s %16s\n", "set-up", "uploads/s", "vs SQLite", "vs SQLite in mem");
    for (std::size_t i = 0; i < std::size(setups); ++i) {
        std::printf("%-32s %10.0f %9.2fx %15.2fx\n", setups[i].name, best[i], best[i] / best[0],
                    best[i] / best[1]);
    }
    return 0;
}
