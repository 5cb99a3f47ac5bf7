// The cost of naming an upload when its typed name is taken many times over: the client sends
// the remembered name with every capture of the same window, so "besprechung", "besprechung-2",
// … grow in normal use. Stores `uploads` pictures of one typed name into each store, in process
// through the store's rules (no HTTP), one after the other, and prints the mean time per upload
// of the first and of the last `window` of them. A store whose next free name costs O(1) or
// O(log n) shows about the same time at both ends; one that looks at the whole series shows a
// time that grows with it.
//
// The SQLite data folder lies in /dev/shm when there is one (a flush costs nothing there, so the
// naming is what is measured, not the disk); the tests' PostgreSQL cluster runs without fsync.
//
//   bench_service_name_series [uploads] [window]      (default 10000 500)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "service/open_storage.h"
#include "service/rules/picture_store.h"
#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace {

using namespace glimmerly::service;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Ends {
    double firstMs = 0;
    double lastMs = 0;
    std::string lastName;
};

// Per-upload times of the first and last window of `uploads` uploads named "Besprechung".
bool Measure(PictureStore& store, int uploads, int window, Ends& ends) {
    const std::string jpeg = test::MakeJpeg(64, 48, 5);
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(uploads));
    for (int i = 0; i < uploads; ++i) {
        auto start = Clock::now();
        PictureStore::UploadResult r = store.AddPicture(jpeg, {64, 48}, "Besprechung", "", 1h);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (r.status != PictureStore::UploadStatus::Stored) {
            std::fprintf(stderr, "upload %d was not stored\n", i + 1);
            return false;
        }
        ends.lastName = r.name;
    }
    for (int i = 0; i < window; ++i) {
        ends.firstMs += ms[static_cast<std::size_t>(i)] / window;
        ends.lastMs += ms[ms.size() - static_cast<std::size_t>(window - i)] / window;
    }
    return true;
}

void Report(const char* store, const Ends& e, int window) {
    std::printf("%-11s first %5d: %7.3f ms/upload   last %5d: %7.3f ms/upload   ratio %5.2f   "
                "(last name %s)\n",
                store, window, e.firstMs, window, e.lastMs, e.lastMs / e.firstMs,
                e.lastName.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const int uploads = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int window = argc > 2 ? std::atoi(argv[2]) : 500;
    if (uploads < 1 || window < 1 || window > uploads) {
        std::fprintf(stderr, "usage: %s [uploads] [window <= uploads]\n", argv[0]);
        return 2;
    }
    std::printf("%d uploads of one typed name, mean time per upload\n", uploads);
    int status = 0;
    for (bool postgres : {false, true}) {
        StoreOptions options;
        std::unique_ptr<test::TempDir> temp;
        if (postgres) {
            test::PgCluster* cluster = test::PgCluster::Shared();
            if (!cluster) {
                std::fprintf(stderr, "no PostgreSQL: %s\n", test::PgCluster::Why().c_str());
                status = 1;
                continue;
            }
            options.database = cluster->NewDatabase();
        } else {
            const bool shm = std::filesystem::is_directory("/dev/shm");
            temp = std::make_unique<test::TempDir>(shm ? "/dev/shm/glimmerly-bench"
                                                       : "glimmerly-bench");
            options.folder = (temp->Root() / "data").string();
        }
        std::string error;
        std::unique_ptr<StorageBackend> storage = OpenStorage(options, error);
        std::unique_ptr<PictureStore> store =
            storage ? std::make_unique<PictureStore>(std::move(storage)) : nullptr;
        Ends ends;
        if (!store || !Measure(*store, uploads, window, ends)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            status = 1;
            continue;
        }
        Report(postgres ? "PostgreSQL" : "SQLite", ends, window);
    }
    return status;
}
