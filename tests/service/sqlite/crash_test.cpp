// Killing the service in the middle of uploads leaves no row without its file, the next start
// clears away exactly what the interrupted uploads left behind (half-written files removed,
// complete files without a row kept in quarantine), and no half-written picture is ever served.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "service/sqlite/sqlite_storage.h"
#include "tests/service/harness.h"

namespace glimmerly::service::test {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

// The data folder as a killed service left it, seen without the service's own code.
struct Leftovers {
    std::map<std::string, std::string> rows; // picture name → stored file name
    Names rowsWithoutFile;                   // picture names
    Names filesWithoutRow;                   // file names
    Names temporaryFiles;                    // file names
};

Leftovers Inspect(const fs::path& data) {
    Leftovers found;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((data / "glimmerly.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        ADD_FAILURE() << "cannot open the database: " << sqlite3_errmsg(db);
        sqlite3_close(db);
        return found;
    }
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT name, file, size FROM pictures", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        std::string file =
            reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)) + std::string(".jpg");
        std::error_code ec;
        auto size = fs::file_size(data / "pictures" / file, ec);
        if (ec) {
            found.rowsWithoutFile.insert(name);
        } else {
            EXPECT_EQ(static_cast<std::int64_t>(size), sqlite3_column_int64(stmt, 2)) << name;
        }
        found.rows[name] = file;
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    Names rowFiles;
    for (const auto& [name, file] : found.rows) {
        rowFiles.insert(file);
    }
    for (auto& entry : fs::directory_iterator(data / "pictures")) {
        std::string leaf = entry.path().filename().string();
        if (leaf.rfind(".tmp-", 0) == 0) {
            found.temporaryFiles.insert(leaf);
        } else if (!rowFiles.count(leaf)) {
            found.filesWithoutRow.insert(leaf);
        }
    }
    return found;
}

Names AsSet(const std::vector<std::string>& names) {
    return Names(names.begin(), names.end());
}

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
    ASSERT_GT(stored, 0);

    // A row is written only once its file is complete and in place.
    Leftovers left = Inspect(data);
    EXPECT_EQ(left.rowsWithoutFile, Names{}) << "rows without file after the kill";
    std::printf("%d upload(s) confirmed before the kill; left behind: %zu unfinished, %zu "
                "without row\n",
                stored, left.temporaryFiles.size(), left.filesWithoutRow.size());
    // One more of each kind, so that every kind is there to be repaired whatever the kill met.
    const fs::path pictures = data / "pictures";
    std::ofstream(pictures / ".tmp-0123456789abcdef0123456789abcdef") << "half";
    std::ofstream(pictures / "fedcba9876543210fedcba9876543210.jpg") << base;
    const std::string lost = left.rows.begin()->first;
    fs::remove(pictures / left.rows.begin()->second);
    Leftovers planted = Inspect(data);
    ASSERT_EQ(planted.rowsWithoutFile, Names{lost});

    // The next start repairs exactly these, and says so.
    {
        std::string error;
        std::unique_ptr<SqliteStorage> storage = SqliteStorage::Open(data, error);
        ASSERT_TRUE(storage) << error;
        const RepairReport& repairs = storage->Repairs();
        EXPECT_EQ(AsSet(repairs.temporaryFiles), planted.temporaryFiles);
        EXPECT_EQ(AsSet(repairs.orphanFiles), planted.filesWithoutRow);
        EXPECT_EQ(AsSet(repairs.missingFiles), planted.rowsWithoutFile);
    }
    Leftovers repaired = Inspect(data);
    EXPECT_EQ(repaired.temporaryFiles, Names{});
    EXPECT_EQ(repaired.filesWithoutRow, Names{});
    EXPECT_EQ(repaired.rowsWithoutFile, Names{});
    // Files without a row are complete pictures: they are kept aside, never deleted.
    Names quarantined;
    std::error_code ec;
    for (auto& entry : fs::directory_iterator(data / "quarantine", ec)) {
        quarantined.insert(entry.path().filename().string());
    }
    EXPECT_EQ(quarantined, planted.filesWithoutRow);
    EXPECT_GE(repaired.rows.size() + 1, static_cast<std::size_t>(stored));

    // The service serves every listed picture whole, and takes uploads again.
    ServiceProcess service(data);
    ASSERT_TRUE(service.ok());
    for (const auto& [name, file] : repaired.rows) {
        HttpResponse r = ClientGet(service.servicePort(), "/" + name + ".jpg");
        EXPECT_EQ(r.status, 200);
        EXPECT_TRUE(sent.count(r.body)) << name << " is not a picture that was sent whole";
    }
    HttpResponse again = Upload(service.uploadPort(), base);
    EXPECT_EQ(again.body.rfind("ok|", 0), 0u) << again.statusLine << again.body << "\n"
                                              << service.Output();
}

} // namespace
} // namespace glimmerly::service::test
