// The start-up repair of the SQLite store on a data folder that is not whole: a picture folder
// that is missing (a volume not mounted, a restore half done) stops the start and changes
// nothing; a few mismatches go to quarantine, never away, and come back with their files.

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "service/sqlite/sqlite_storage.h"
#include "tests/service/harness.h"
#include "tests/service/tool_run.h"

namespace glimmerly::service::test {
namespace {

namespace fs = std::filesystem;

// Picture name → the bytes that were uploaded.
using Uploaded = std::map<std::string, std::string>;

Uploaded UploadSome(std::uint16_t port, int count, unsigned seed) {
    Uploaded sent;
    const std::string base = MakeJpeg(96, 64, seed);
    for (int i = 0; i < count; ++i) {
        std::string jpeg = WithComment(base, seed * 1000 + static_cast<unsigned>(i));
        UploadFields fields;
        fields.screenshotName = "Bild " + std::to_string(seed) + " " + std::to_string(i);
        std::string name = NameFromReply(Upload(port, jpeg, fields).body);
        EXPECT_FALSE(name.empty());
        sent[name] = jpeg;
    }
    return sent;
}

// Every picture is served with exactly its uploaded bytes.
void ExpectServed(std::uint16_t port, const Uploaded& sent) {
    for (const auto& [name, jpeg] : sent) {
        HttpResponse r = ClientGet(port, "/" + name + ".jpg");
        EXPECT_EQ(r.status, 200) << name;
        EXPECT_TRUE(r.body == jpeg) << name << " is served with other bytes";
    }
}

// Counts the rows of a table without the service's code.
long long Rows(const fs::path& data, const std::string& table) {
    sqlite3* db = nullptr;
    long long n = -1;
    if (sqlite3_open_v2((data / "glimmerly.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        std::string sql = "SELECT count(*) FROM " + table;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            n = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return n;
}

std::size_t FilesIn(const fs::path& folder) {
    std::error_code ec;
    std::size_t n = 0;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        ++n;
    }
    return n;
}

// A start that must end at once: the exit status (-1 when it did not end) and what it said.
ToolRun StartExpectingRefusal(const fs::path& data) {
    return RunTool({GLIMMERLY_SERVICE_BINARY, "--data", data.string(), "--service-port", "0",
                    "--upload-port", "0"},
                   15);
}

TEST(ServiceRepairTest, AMissingPictureFolderStopsTheStartAndLosesNothing) {
    TempDir temp{"glimmerly-service"};
    const fs::path data = temp.Root() / "data";
    Uploaded sent;
    {
        ServiceProcess service(data);
        ASSERT_TRUE(service.ok());
        sent = UploadSome(service.uploadPort(), 8, 3);
    }
    ASSERT_EQ(sent.size(), 8u);
    // The picture volume is not mounted.
    fs::rename(data / "pictures", temp.Root() / "away");

    ToolRun refused = StartExpectingRefusal(data);
    EXPECT_TRUE(refused.ended && refused.status != 0) << refused.status << refused.output;
    EXPECT_NE(refused.output.find("pictures"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("refusing to start"), std::string::npos) << refused.output;
    EXPECT_EQ(Rows(data, "pictures"), 8);
    EXPECT_FALSE(fs::exists(data / "pictures")) << "a start must not make a folder in its place";

    // An empty folder in its place (the bare mount point) stops the start just as well.
    fs::create_directory(data / "pictures");
    refused = StartExpectingRefusal(data);
    EXPECT_TRUE(refused.ended && refused.status != 0) << refused.status << refused.output;
    EXPECT_NE(refused.output.find("8 of 8"), std::string::npos) << refused.output;
    EXPECT_EQ(Rows(data, "pictures"), 8);
    fs::remove(data / "pictures");

    // With the volume back, two starts in a row keep and serve everything.
    fs::rename(temp.Root() / "away", data / "pictures");
    for (int start = 0; start < 2; ++start) {
        ServiceProcess service(data);
        ASSERT_TRUE(service.ok());
        ExpectServed(service.servicePort(), sent);
        EXPECT_EQ(service.Output().find("quarantine"), std::string::npos) << service.Output();
    }
    EXPECT_EQ(FilesIn(data / "pictures"), 8u);
}

TEST(ServiceRepairTest, AFewMismatchesGoToQuarantineAndComeBackWithTheirFiles) {
    TempDir temp{"glimmerly-service"};
    const fs::path data = temp.Root() / "data";
    Uploaded sent;
    std::uint16_t port = 0;
    {
        ServiceProcess service(data);
        ASSERT_TRUE(service.ok());
        sent = UploadSome(service.uploadPort(), 8, 4);
    }
    ASSERT_EQ(sent.size(), 8u);
    // One file lost by hand, one file whose row is lost (a database older than the folder).
    fs::path someFile = fs::directory_iterator(data / "pictures")->path();
    fs::rename(someFile, temp.Root() / "lost.jpg");
    const std::string stray = MakeJpeg(32, 32, 9);
    std::ofstream(data / "pictures" / "00112233445566778899aabbccddeeff.jpg") << stray;

    {
        ServiceProcess service(data);
        ASSERT_TRUE(service.ok());
        port = service.servicePort();
        int missing = 0;
        for (const auto& [name, jpeg] : sent) {
            missing += ClientGet(port, "/" + name + ".jpg").status == 404 ? 1 : 0;
        }
        EXPECT_EQ(missing, 1);
        EXPECT_NE(service.Output().find("quarantine"), std::string::npos) << service.Output();
    }
    EXPECT_EQ(Rows(data, "pictures"), 7);
    EXPECT_EQ(Rows(data, "quarantined_pictures"), 1);
    std::ifstream kept(data / "quarantine" / "00112233445566778899aabbccddeeff.jpg",
                       std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), stray);
    EXPECT_FALSE(fs::exists(data / "pictures" / "00112233445566778899aabbccddeeff.jpg"));

    // The lost file turns up again: its picture is back, with its name and bytes.
    fs::rename(temp.Root() / "lost.jpg", someFile);
    ServiceProcess service(data);
    ASSERT_TRUE(service.ok());
    ExpectServed(service.servicePort(), sent);
    EXPECT_EQ(Rows(data, "quarantined_pictures"), 0);
}

// A data folder of rows pictures, each with a small file, written without the service.
void MakeStore(const fs::path& data, int rows) {
    {
        std::string error;
        ASSERT_TRUE(SqliteStorage::Open(data, error)) << error; // the schema
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((data / "glimmerly.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < rows; ++i) {
        char token[33];
        std::snprintf(token, sizeof token, "%032x", i + 1);
        std::string sql = "INSERT INTO pictures(name, file, title, size, width, height, created, "
                          "seq) VALUES('p" +
                          std::to_string(i) + "', '" + token + "', 'p', 4, 1, 1, 0, " +
                          std::to_string(i + 1) + ")";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        std::ofstream(data / "pictures" / (std::string(token) + ".jpg")) << "jpeg";
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void RemoveFiles(const fs::path& data, int count) {
    for (int i = 0; i < count; ++i) {
        char token[33];
        std::snprintf(token, sizeof token, "%032x", i + 1);
        fs::remove(data / "pictures" / (std::string(token) + ".jpg"));
    }
}

// Up to five missing files, or up to one in a hundred in a larger store, are taken for files lost
// one by one; more than that is a folder that is not all there.
TEST(SqliteRepairTest, RefusesWhenMoreThanFiveOrOneInAHundredFilesAreMissing) {
    struct Case {
        int rows;
        int missing;
        bool opens;
    };
    for (Case c : {Case{8, 5, true}, Case{8, 6, false}, Case{700, 7, true}, Case{700, 8, false}}) {
        SCOPED_TRACE(std::to_string(c.missing) + " of " + std::to_string(c.rows));
        TempDir temp{"glimmerly-service"};
        const fs::path data = temp.Root() / "data";
        MakeStore(data, c.rows);
        RemoveFiles(data, c.missing);
        std::string error;
        std::unique_ptr<SqliteStorage> storage = SqliteStorage::Open(data, error);
        EXPECT_EQ(storage != nullptr, c.opens) << error;
        if (storage) {
            EXPECT_EQ(storage->Repairs().missingFiles.size(), static_cast<std::size_t>(c.missing));
            storage.reset();
            EXPECT_EQ(Rows(data, "pictures"), c.rows - c.missing);
        } else {
            EXPECT_NE(error.find("refusing to start"), std::string::npos) << error;
            EXPECT_EQ(Rows(data, "pictures"), c.rows) << "a refused start changed the database";
            // The operator who knows the files are gone moves the rows aside on purpose.
            SqliteOptions force;
            force.quarantineMissing = true;
            storage = SqliteStorage::Open(data, error, force);
            ASSERT_TRUE(storage) << error;
            EXPECT_EQ(storage->Repairs().missingFiles.size(), static_cast<std::size_t>(c.missing));
        }
        storage.reset();
        EXPECT_EQ(Rows(data, "quarantined_pictures"), c.missing);
    }
}

TEST(SqliteRepairTest, ALostDatabaseBesideItsPicturesStopsTheStart) {
    TempDir temp{"glimmerly-service"};
    const fs::path data = temp.Root() / "data";
    MakeStore(data, 3);
    fs::remove(data / "glimmerly.db");
    fs::remove(data / "glimmerly.db-wal");
    fs::remove(data / "glimmerly.db-shm");
    std::string error;
    EXPECT_FALSE(SqliteStorage::Open(data, error));
    EXPECT_NE(error.find("glimmerly.db"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(data / "glimmerly.db"));
    EXPECT_EQ(FilesIn(data / "pictures"), 3u);
}

// The change counter never goes back when its highest rows go to quarantine: a page that saw
// those changes must still see the next one.
TEST(SqliteRepairTest, TheChangeCounterCountsOnPastQuarantinedRows) {
    TempDir temp{"glimmerly-service"};
    const fs::path data = temp.Root() / "data";
    MakeStore(data, 8);
    fs::remove(data / "pictures" / "00000000000000000000000000000008.jpg");
    std::string error;
    std::unique_ptr<SqliteStorage> storage = SqliteStorage::Open(data, error);
    ASSERT_TRUE(storage) << error;
    EXPECT_EQ(storage->LastChange(), 8);
}

} // namespace
} // namespace glimmerly::service::test
