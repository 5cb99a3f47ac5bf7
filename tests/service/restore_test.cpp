// A backup taken the way the README says, while the service runs, brings everything back after
// the data is lost: SQLite with `sqlite3 .backup` and a copy of the picture folder, PostgreSQL
// with pg_dump and pg_restore.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"
#include "tests/service/tool_run.h"

namespace glimmerly::service::test {
namespace {

namespace fs = std::filesystem;

class StoreRestoreTest : public BackendTest {
protected:
    // Starts the service on this test's store.
    std::unique_ptr<ServiceProcess> Start() {
        return std::make_unique<ServiceProcess>(data_, StoreArgs());
    }

    // Picture name → bytes, for pictures uploaded under distinct names.
    std::map<std::string, std::string> UploadSome(std::uint16_t port, int count, unsigned seed) {
        std::map<std::string, std::string> sent;
        const std::string base = MakeJpeg(80, 60, seed);
        for (int i = 0; i < count; ++i) {
            std::string jpeg = WithComment(base, seed * 100 + static_cast<unsigned>(i));
            UploadFields fields;
            fields.screenshotName = "Sicherung " + std::to_string(i);
            std::string name = NameFromReply(Upload(port, jpeg, fields).body);
            EXPECT_FALSE(name.empty());
            sent[name] = jpeg;
        }
        return sent;
    }

    void BackUpSqlite() {
        fs::create_directories(backup_);
        const std::string copy = (backup_ / "glimmerly.db").string();
        if (::access("/usr/bin/sqlite3", X_OK) == 0) {
            ToolRun r = RunTool(
                {"/usr/bin/sqlite3", (data_ / "glimmerly.db").string(), ".backup '" + copy + "'"});
            ASSERT_EQ(r.status, 0) << r.output;
        } else {
            // The same online backup the command line tool makes.
            sqlite3* from = nullptr;
            sqlite3* to = nullptr;
            sqlite3_open((data_ / "glimmerly.db").c_str(), &from);
            sqlite3_open(copy.c_str(), &to);
            sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
            ASSERT_TRUE(b) << sqlite3_errmsg(to);
            EXPECT_EQ(sqlite3_backup_step(b, -1), SQLITE_DONE);
            sqlite3_backup_finish(b);
            sqlite3_close(to);
            sqlite3_close(from);
        }
    }

    void CopyPictureFolder() {
        ToolRun r = RunTool(
            {"/bin/cp", "-a", (data_ / "pictures").string(), (backup_ / "pictures").string()});
        ASSERT_EQ(r.status, 0) << r.output;
    }

    void RestoreSqlite() {
        fs::create_directories(data_);
        fs::copy_file(backup_ / "glimmerly.db", data_ / "glimmerly.db");
        ToolRun r = RunTool(
            {"/bin/cp", "-a", (backup_ / "pictures").string(), (data_ / "pictures").string()});
        ASSERT_EQ(r.status, 0) << r.output;
    }

    std::string PgTool(const std::string& name) { return PgCluster::Shared()->Program(name); }

    // The database dropped and made again empty, as after a loss.
    void RecreateDatabase() {
        PgCluster* cluster = PgCluster::Shared();
        ASSERT_EQ(cluster->Sql("postgres", "DROP DATABASE " + DatabaseName() + " WITH (FORCE)"),
                  "");
        ASSERT_EQ(
            cluster->Sql("postgres", "CREATE DATABASE " + DatabaseName() + " TEMPLATE template0"),
            "");
    }

    std::string DatabaseName() const { return database_.substr(database_.rfind('/') + 1); }

    const fs::path data_ = temp_.Root() / "data";
    const fs::path backup_ = temp_.Root() / "backup";
};

TEST_P(StoreRestoreTest, ABackupTakenWhileRunningBringsEveryPictureBackByteForByte) {
    const bool sqlite = GetParam() == Backend::Sqlite;
    std::map<std::string, std::string> sent;
    std::string late;
    {
        std::unique_ptr<ServiceProcess> service = Start();
        ASSERT_TRUE(service->ok());
        sent = UploadSome(service->uploadPort(), 6, 5);
        ASSERT_EQ(sent.size(), 6u);
        if (sqlite) {
            // The database first, then the folder: a picture uploaded in between has its file in
            // the backup but not its row, and the restored service puts the file aside.
            BackUpSqlite();
            late = NameFromReply(Upload(service->uploadPort(), MakeJpeg(40, 30, 6)).body);
            ASSERT_FALSE(late.empty());
            CopyPictureFolder();
        } else {
            ToolRun dump = RunTool({PgTool("pg_dump"), "--format=custom", "--file",
                                    (temp_.Root() / "backup.dump").string(), database_});
            ASSERT_EQ(dump.status, 0) << dump.output;
        }
    }

    // Lost.
    if (sqlite) {
        fs::remove_all(data_);
    } else {
        ASSERT_NO_FATAL_FAILURE(RecreateDatabase());
    }
    {
        std::unique_ptr<ServiceProcess> service = Start();
        ASSERT_TRUE(service->ok());
        EXPECT_EQ(ClientGet(service->servicePort(), "/" + sent.begin()->first + ".jpg").status, 404)
            << "the data was not lost";
    }

    // Restored.
    if (sqlite) {
        fs::remove_all(data_);
        RestoreSqlite();
    } else {
        ASSERT_NO_FATAL_FAILURE(RecreateDatabase());
        ToolRun restore = RunTool({PgTool("pg_restore"), "--exit-on-error", "--dbname", database_,
                                   (temp_.Root() / "backup.dump").string()});
        ASSERT_EQ(restore.status, 0) << restore.output;
    }
    std::unique_ptr<ServiceProcess> service = Start();
    ASSERT_TRUE(service->ok());
    for (const auto& [name, jpeg] : sent) {
        HttpResponse r = ClientGet(service->servicePort(), "/" + name + ".jpg");
        EXPECT_EQ(r.status, 200) << name;
        EXPECT_TRUE(r.body == jpeg) << name << " comes back with other bytes";
    }
    if (sqlite) {
        EXPECT_EQ(ClientGet(service->servicePort(), "/" + late + ".jpg").status, 404);
        std::error_code ec;
        EXPECT_EQ(std::distance(fs::directory_iterator(data_ / "quarantine", ec),
                                fs::directory_iterator()),
                  1)
            << "the file of the picture uploaded during the backup is kept aside";
    }
    // The restored store goes on: a taken name still counts as taken.
    UploadFields again;
    again.screenshotName = "Sicherung 0";
    EXPECT_EQ(NameFromReply(Upload(service->uploadPort(), MakeJpeg(40, 30, 7), again).body),
              "sicherung_0-2");
}

GLIMMERLY_BOTH_STORES(StoreRestoreTest);

} // namespace
} // namespace glimmerly::service::test
