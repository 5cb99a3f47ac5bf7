// The SQLite storage's files: what an interrupted run leaves is cleaned up on opening, and
// what goes to quarantine stays there.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "service/rules/picture_store.h"
#include "service/sqlite/sqlite_storage.h"
#include "tests/service/harness.h"

namespace glimmerly::service {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The SQLite storage's files: what an interrupted run leaves is cleaned up on opening.
class SqliteStorageTest : public ::testing::Test {
protected:
    std::unique_ptr<SqliteStorage> OpenStorage() {
        std::string error;
        auto storage = SqliteStorage::Open(temp_.Root() / "data", error);
        EXPECT_TRUE(storage) << error;
        return storage;
    }
    test::TempDir temp_{"glimmerly-store"};
    std::string jpeg_ = test::MakeJpeg(20, 10, 7);
    JpegSize size_{20, 10};
};

TEST_F(SqliteStorageTest, OpeningRepairsWhatAnInterruptedRunLeft) {
    std::string keptName;
    {
        auto storage = OpenStorage();
        SqliteStorage* files = storage.get();
        PictureStore store(std::move(storage));
        keptName = store.AddPicture(jpeg_, size_, "bleibt", "", 1h).name;
        EXPECT_EQ(files->PictureFile(keptName)->parent_path(),
                  fs::absolute(temp_.Root() / "data" / "pictures"));
        EXPECT_FALSE(files->PictureFile("../glimmerly"));
        store.AddPicture(jpeg_, size_, "verschwindet", "", 1h);
        fs::remove(*files->PictureFile("verschwindet"));
        // A second service cannot open the folder while this one holds it.
        std::string error;
        EXPECT_FALSE(SqliteStorage::Open(temp_.Root() / "data", error));
        EXPECT_NE(error.find("in use"), std::string::npos);
    }
    fs::path pictures = temp_.Root() / "data" / "pictures";
    std::ofstream(pictures / ".tmp-0123456789abcdef0123456789abcdef") << "half";
    std::ofstream(pictures / "fedcba9876543210fedcba9876543210.jpg") << jpeg_;
    auto storage = OpenStorage();
    using Names = std::vector<std::string>;
    EXPECT_EQ(storage->Repairs().temporaryFiles, Names{".tmp-0123456789abcdef0123456789abcdef"});
    EXPECT_EQ(storage->Repairs().orphanFiles, Names{"fedcba9876543210fedcba9876543210.jpg"});
    EXPECT_EQ(storage->Repairs().missingFiles, Names{"verschwindet"});
    EXPECT_TRUE(storage->FindPicture(keptName));
    EXPECT_FALSE(storage->FindPicture("verschwindet"));
    int files = 0;
    for (auto& e : fs::directory_iterator(pictures)) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
    // Nothing is left for the next start to repair.
    storage.reset();
    EXPECT_TRUE(OpenStorage()->Repairs().Empty());
}

// A file without a row goes to quarantine under its own name; when a later start finds another
// file of that name (a second copy restored), both stay.
TEST_F(SqliteStorageTest, OrphansOfOneNameFromTwoStartsAreBothKept) {
    ASSERT_TRUE(OpenStorage());
    const fs::path data = temp_.Root() / "data";
    const std::string leaf = "fedcba9876543210fedcba9876543210.jpg";
    const std::string second = test::MakeJpeg(20, 10, 8);
    for (const std::string* copy : {static_cast<const std::string*>(&jpeg_), &second}) {
        std::ofstream(data / "pictures" / leaf, std::ios::binary) << *copy;
        auto storage = OpenStorage();
        ASSERT_TRUE(storage);
        EXPECT_EQ(storage->Repairs().orphanFiles, std::vector<std::string>{leaf});
        EXPECT_EQ(storage->DescribeRepairs(),
                  "repaired the data folder: removed 0 unfinished upload(s); moved 1 file(s) "
                  "without entry to " +
                      (data / "quarantine").string() +
                      ", 0 entry/entries without file to the table quarantined_pictures; put "
                      "back 0 quarantined picture(s) whose file turned up again");
    }
    EXPECT_EQ(Contents(data / "quarantine" / leaf), jpeg_);
    EXPECT_EQ(Contents(data / "quarantine" / (leaf + ".2")), second);
    EXPECT_FALSE(fs::exists(data / "pictures" / leaf));
    EXPECT_EQ(OpenStorage()->DescribeRepairs(), "");
}

// A database a newer program has upgraded is left alone; one at this program's version opens.
TEST_F(SqliteStorageTest, RefusesADatabaseOfANewerSchema) {
    ASSERT_TRUE(OpenStorage());
    const std::string file = (temp_.Root() / "data" / "glimmerly.db").string();
    auto version = [&](int set) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* read = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &read, nullptr);
        int current = sqlite3_step(read) == SQLITE_ROW ? sqlite3_column_int(read, 0) : -1;
        sqlite3_finalize(read);
        if (set >= 0) {
            sqlite3_exec(db, ("PRAGMA user_version = " + std::to_string(set)).c_str(), nullptr,
                         nullptr, nullptr);
        }
        sqlite3_close(db);
        return current;
    };
    const int current = version(-1);
    ASSERT_GT(current, 0);
    version(current + 1);
    std::string error;
    EXPECT_FALSE(SqliteStorage::Open(temp_.Root() / "data", error));
    EXPECT_NE(error.find("schema version " + std::to_string(current + 1)), std::string::npos)
        << error;
    EXPECT_NE(error.find("too old"), std::string::npos) << error;
    EXPECT_EQ(version(current), current + 1) << "the refused start changed the version";
    EXPECT_TRUE(OpenStorage());
}

} // namespace
} // namespace glimmerly::service
