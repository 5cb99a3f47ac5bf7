// Killing the service in the middle of uploads leaves no row without its file and never serves
// a half-written picture.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tests/service/harness.h"

namespace glimmerly::service::test {
namespace {

namespace fs = std::filesystem;

TEST(ServiceCrashTest, KillDuringUploadsLeavesAConsistentStore) {
    TempDir temp{"glimmerly-service"};
    fs::path data = temp.Root() / "data";
    const std::string base = MakeJpeg(128, 96, 21);
    std::mutex mutex;
    std::set<std::string> sent;
    int stored = 0;
    {
        ServiceProcess service(data);
        ASSERT_TRUE(service.ok());
        std::atomic<bool> stop{false};
        std::vector<std::thread> clients;
        for (int c = 0; c < 8; ++c) {
            clients.emplace_back([&, c] {
                for (unsigned i = 0; !stop; ++i) {
                    // Large files, so the kill is likely to meet a write in progress.
                    std::string jpeg = base;
                    for (unsigned k = 0; k < 4; ++k) {
                        jpeg = WithComment(jpeg, c * 100000 + i * 10 + k, 60000);
                    }
                    {
                        std::lock_guard lock(mutex);
                        sent.insert(jpeg);
                    }
                    HttpResponse r = Upload(service.uploadPort(), jpeg, {}, 3000);
                    if (!r.ok) {
                        return; // the service is gone
                    }
                    std::lock_guard lock(mutex);
                    stored += NameFromReply(r.body).empty() ? 0 : 1;
                }
            });
        }
        // The kill comes once uploads are being confirmed (however slow the build), while
        // more are on their way.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (bool confirmed = false; !confirmed && std::chrono::steady_clock::now() < deadline;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::lock_guard lock(mutex);
            confirmed = stored > 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        service.Stop(SIGKILL);
        stop = true;
        for (auto& t : clients) {
            t.join();
        }
    }
    EXPECT_GT(stored, 0);

    // Restart: the store repairs itself; every listed picture is whole.
    std::vector<std::string> names;
    {
        ServiceProcess service(data);
        ASSERT_TRUE(service.ok());
        std::printf("%d upload(s) confirmed before the kill; restart said:\n%s", stored,
                    service.Output().c_str());
        for (auto& entry : fs::directory_iterator(data / "pictures")) {
            EXPECT_NE(entry.path().filename().string().rfind(".tmp-", 0), 0u)
                << "unfinished upload left behind";
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(
            sqlite3_open_v2((data / "glimmerly.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        ASSERT_EQ(
            sqlite3_prepare_v2(db, "SELECT name, file, size FROM pictures", -1, &stmt, nullptr),
            SQLITE_OK)
            << sqlite3_errmsg(db);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            std::string file = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            fs::path path = data / "pictures" / (file + ".jpg");
            ASSERT_TRUE(fs::exists(path)) << "row without file: " << name;
            EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(path)),
                      sqlite3_column_int64(stmt, 2));
            names.push_back(name);
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        EXPECT_GE(names.size(), static_cast<std::size_t>(stored));
        std::size_t files = 0;
        for (auto& entry : fs::directory_iterator(data / "pictures")) {
            (void)entry;
            ++files;
        }
        EXPECT_EQ(files, names.size()) << "files without a row";
        for (const std::string& name : names) {
            HttpResponse r = ClientGet(service.servicePort(), "/" + name + ".jpg");
            EXPECT_EQ(r.status, 200);
            EXPECT_TRUE(sent.count(r.body)) << name << " is not a picture that was sent whole";
        }
        // And it takes uploads again.
        HttpResponse again = Upload(service.uploadPort(), base);
        EXPECT_EQ(again.body.rfind("ok|", 0), 0u) << again.statusLine << again.body << "\n"
                                                  << service.Output();
    }
}

} // namespace
} // namespace glimmerly::service::test
