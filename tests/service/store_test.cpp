#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include "service/open_storage.h"
#include "service/rules/picture_store.h"
#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace glimmerly::service {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kOwner = "the uploader's key";

// The rules every store keeps, run against SQLite and against PostgreSQL.
class StoreTest : public test::BackendTest {
protected:
    std::unique_ptr<PictureStore> OpenStore(PictureStore::Now now = PictureStore::Clock::now) {
        std::string error;
        StoreOptions options;
        options.folder = (temp_.Root() / "data").string();
        options.database = database_;
        options.poolSize = 4;
        std::unique_ptr<StorageBackend> storage = service::OpenStorage(options, error);
        EXPECT_TRUE(storage) << error;
        return storage ? std::make_unique<PictureStore>(std::move(storage), std::move(now))
                       : nullptr;
    }
    std::size_t StoredFiles() {
        std::size_t files = 0;
        if (GetParam() == test::Backend::Sqlite) {
            for (auto& e : fs::directory_iterator(temp_.Root() / "data" / "pictures")) {
                (void)e;
                ++files;
            }
        }
        return files;
    }
    std::string jpeg_ = test::MakeJpeg(20, 10, 7);
    JpegSize size_{20, 10};
};

GLIMMERLY_BOTH_STORES(StoreTest);

TEST_P(StoreTest, NamesPicturesUniquelyAndRenamesThem) {
    auto store = OpenStore();
    auto a = store->AddPicture(jpeg_, size_, "Plan", "", 1h, kOwner);
    auto b = store->AddPicture(jpeg_, size_, "plan", "", 1h, kOwner);
    ASSERT_EQ(a.status, PictureStore::UploadStatus::Stored);
    EXPECT_EQ(a.name, "plan");
    EXPECT_EQ(b.name, "plan-2");
    std::string renamed;
    EXPECT_EQ(store->Rename("plan", "plan-2", renamed, kOwner),
              PictureStore::RenameStatus::NameTaken);
    EXPECT_EQ(store->Rename("plan", "Neuer Plan", renamed, kOwner),
              PictureStore::RenameStatus::Renamed);
    EXPECT_EQ(renamed, "neuer_plan");
    EXPECT_EQ(store->FindPicture("neuer_plan")->title, "Neuer Plan");
    EXPECT_EQ(store->Rename("plan", "x", renamed, kOwner),
              PictureStore::RenameStatus::UnknownPicture);
    EXPECT_EQ(store->Rename("neuer_plan", "!!", renamed, kOwner),
              PictureStore::RenameStatus::InvalidName);
    auto content = store->ReadPicture("neuer_plan");
    ASSERT_TRUE(content);
    if (content->fd >= 0) {
        EXPECT_EQ(content->fileSize, jpeg_.size());
        ::close(content->fd);
    } else {
        EXPECT_EQ(content->bytes, jpeg_);
    }
    EXPECT_FALSE(store->ReadPicture("../glimmerly"));
    EXPECT_FALSE(store->ReadPicture("nothere"));
}

// A shared link must keep showing what it showed: a name, once given out, stays with its picture
// through renames and restarts, and only the uploader renames.
TEST_P(StoreTest, ANameOnceGivenOutNeverLeadsToAnotherPicture) {
    auto store = OpenStore();
    auto victim = store->AddPicture(jpeg_, size_, "Quartalszahlen", "", 1h, kOwner);
    ASSERT_EQ(victim.name, "quartalszahlen");
    std::string renamed;
    for (std::string_view other : {std::string_view(), std::string_view("someone else")}) {
        EXPECT_EQ(store->Rename("quartalszahlen", "weg", renamed, other),
                  PictureStore::RenameStatus::NotOwner);
    }
    ASSERT_EQ(store->Rename("quartalszahlen", "Q2", renamed, kOwner),
              PictureStore::RenameStatus::Renamed);
    EXPECT_EQ(store->CurrentName("quartalszahlen"), "q2");

    const std::string other = test::MakeJpeg(20, 10, 99);
    EXPECT_EQ(store->AddPicture(other, size_, "Quartalszahlen", "", 1h, "x").name,
              "quartalszahlen-2");
    auto mine = store->AddPicture(other, size_, "Mein Bild", "", 1h, "x");
    EXPECT_EQ(store->Rename(mine.name, "quartalszahlen", renamed, "x"),
              PictureStore::RenameStatus::NameTaken);
    EXPECT_FALSE(store->FindPicture("quartalszahlen"));
    // Its own earlier name is free for the picture itself; the later one stays given to it.
    EXPECT_EQ(store->Rename("q2", "Quartalszahlen", renamed, kOwner),
              PictureStore::RenameStatus::Renamed);
    EXPECT_EQ(store->CurrentName("q2"), "quartalszahlen");

    // The same after a restart, and a name typed like a later member of a series is passed.
    store.reset();
    store = OpenStore();
    EXPECT_EQ(store->AddPicture(other, size_, "Q2", "", 1h, "x").name, "q2-2");
    EXPECT_EQ(store->AddPicture(other, size_, "Quartalszahlen-3", "", 1h, "x").name,
              "quartalszahlen-3");
    EXPECT_EQ(store->AddPicture(other, size_, "Quartalszahlen", "", 1h, "x").name,
              "quartalszahlen-4");
    EXPECT_EQ(store->FindPicture("quartalszahlen")->size, static_cast<std::int64_t>(jpeg_.size()));
    EXPECT_FALSE(store->CurrentName("nie_vergeben"));
}

// A picture its uploader deleted is gone, files and all, but its names stay given out.
TEST_P(StoreTest, TheUploaderDeletesAPictureAndItsNamesStayGivenOut) {
    auto store = OpenStore();
    store->AddPicture(jpeg_, size_, "Plan", "", 1h, kOwner);
    auto kept = store->AddPicture(jpeg_, size_, "Bleibt", "", 1h, kOwner);
    std::string renamed;
    ASSERT_EQ(store->Rename("plan", "Neu", renamed, kOwner), PictureStore::RenameStatus::Renamed);
    ASSERT_EQ(StoredFiles(), GetParam() == test::Backend::Sqlite ? 2u : 0u);
    using Status = PictureStore::DeleteStatus;
    EXPECT_EQ(store->Delete("neu", ""), Status::NotOwner);
    EXPECT_EQ(store->Delete("neu", "someone else"), Status::NotOwner);
    EXPECT_EQ(store->Delete("plan", kOwner), Status::UnknownPicture) << "an earlier name";
    EXPECT_EQ(store->Delete("neu", kOwner), Status::Deleted);
    EXPECT_EQ(store->Delete("neu", kOwner), Status::UnknownPicture);
    EXPECT_FALSE(store->FindPicture("neu"));
    EXPECT_FALSE(store->ReadPicture("neu"));
    EXPECT_EQ(store->CurrentName("neu"), "");
    EXPECT_EQ(store->CurrentName("plan"), "");
    EXPECT_EQ(StoredFiles(), GetParam() == test::Backend::Sqlite ? 1u : 0u);

    // The rename was the last change: a page that saw it must not see its number again.
    const std::int64_t last = store->LastSeq();
    store.reset();
    store = OpenStore(); // nothing for the start-up to repair or to refuse
    EXPECT_EQ(store->LastSeq(), last);
    EXPECT_EQ(store->AddPicture(jpeg_, size_, "Neu", "", 1h, kOwner).name, "neu-2");
    EXPECT_EQ(store->AddPicture(jpeg_, size_, "Plan", "", 1h, kOwner).name, "plan-2");
    EXPECT_TRUE(store->ReadPicture(kept.name));
}

// The series counts on from where it stopped, also past -9 (which sorts between -1 and -2) and
// beside names that only look alike.
TEST_P(StoreTest, LongSeriesCountOnWithoutGaps) {
    auto store = OpenStore();
    for (const char* other : {"Serie 1", "Serien", "Serie_2", "Seri"}) {
        store->AddPicture(jpeg_, size_, other, "", 1h);
    }
    for (int n = 1; n <= 12; ++n) {
        EXPECT_EQ(store->AddPicture(jpeg_, size_, "Serie", "", 1h).name,
                  n == 1 ? std::string("serie") : "serie-" + std::to_string(n));
    }
    EXPECT_EQ(store->AddPicture(jpeg_, size_, "Serie 1", "", 1h).name, "serie_1-2");
}

// A store from before names were kept: its pictures keep their names (and have no owner, so
// nobody renames them), and the series go on after them.
TEST_P(StoreTest, AnOlderStoreKeepsItsNamesAfterTheUpgrade) {
    {
        auto store = OpenStore();
        store->AddPicture(jpeg_, size_, "Plan", "", 1h);
        store->AddPicture(jpeg_, size_, "Plan", "", 1h);
    }
    if (GetParam() == test::Backend::Sqlite) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((temp_.Root() / "data" / "glimmerly.db").c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db,
                               "DROP TABLE given_names; DROP TABLE name_series; "
                               "DROP TABLE deleted_pictures; "
                               "ALTER TABLE pictures DROP COLUMN owner; "
                               "ALTER TABLE quarantined_pictures DROP COLUMN owner; "
                               "PRAGMA user_version = 0",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    } else {
        EXPECT_EQ(test::PgCluster::Shared()->Sql(
                      database_.substr(database_.rfind('/') + 1),
                      "ALTER TABLE pictures DROP COLUMN owner; DROP TABLE given_names, "
                      "name_series; UPDATE glimmerly_schema SET version = 2"),
                  "");
    }
    auto store = OpenStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->AddPicture(jpeg_, size_, "Plan", "", 1h, kOwner).name, "plan-3");
    std::string renamed;
    EXPECT_EQ(store->Rename("plan-2", "Neu", renamed, kOwner),
              PictureStore::RenameStatus::NotOwner);
    ASSERT_EQ(store->Rename("plan-3", "Neu", renamed, kOwner), PictureStore::RenameStatus::Renamed);
    EXPECT_EQ(store->AddPicture(jpeg_, size_, "Plan", "", 1h, kOwner).name, "plan-4");
    EXPECT_EQ(store->CurrentName("plan-3"), "neu");
}

TEST_P(StoreTest, SessionsExpireAndUploadsExtendThem) {
    const PictureStore::Clock::time_point start =
        std::chrono::sys_days{std::chrono::December / 6 / 2026};
    PictureStore::Clock::time_point now = start;
    auto store = OpenStore([&now] { return now; });
    EXPECT_EQ(store->GetSession("s"), PictureStore::SessionState::Unknown);
    EXPECT_EQ(store->AddPicture(jpeg_, size_, "", "s", 1h).status,
              PictureStore::UploadStatus::WrongSession);
    store->OpenSession("s", 600ms);
    EXPECT_EQ(store->GetSession("s"), PictureStore::SessionState::Active);
    now += 400ms;
    // An upload keeps the session open for another ttl, from the upload on.
    EXPECT_EQ(store->AddPicture(jpeg_, size_, "", "s", 600ms).status,
              PictureStore::UploadStatus::Stored);
    now += 599ms;
    EXPECT_EQ(store->GetSession("s"), PictureStore::SessionState::Active);
    now += 1ms; // the expiry time itself is past
    EXPECT_EQ(store->GetSession("s"), PictureStore::SessionState::Expired);
    EXPECT_EQ(store->AddPicture(jpeg_, size_, "", "s", 600ms).status,
              PictureStore::UploadStatus::WrongSession);
    EXPECT_EQ(store->SessionPictures("s").size(), 1u);
    // No file was left behind by the refused uploads.
    EXPECT_EQ(StoredFiles(), GetParam() == test::Backend::Sqlite ? 1u : 0u);
    // The picture carries the store's time; logging in again reopens the session.
    EXPECT_EQ(
        store->SessionPictures("s")[0].created,
        std::chrono::duration_cast<std::chrono::milliseconds>((start + 400ms).time_since_epoch())
            .count());
    store->OpenSession("s", 600ms);
    EXPECT_EQ(store->GetSession("s"), PictureStore::SessionState::Active);
}

TEST_P(StoreTest, ChangesWakeWaitersAndOrderTheSessionList) {
    auto store = OpenStore();
    store->OpenSession("s", 1h);
    std::int64_t seen = store->LastSeq();
    std::thread uploader([&] {
        std::this_thread::sleep_for(50ms);
        store->AddPicture(jpeg_, size_, "eins", "s", 1h, kOwner);
    });
    EXPECT_GT(store->WaitForChange(seen, 5s), seen);
    uploader.join();
    store->AddPicture(jpeg_, size_, "zwei", "s", 1h);
    auto list = store->SessionPictures("s");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "zwei");
    EXPECT_EQ(list[1].name, "eins");
    EXPECT_EQ(store->SessionPictures("s", list[1].seq).size(), 1u);
    std::string renamed;
    store->Rename("eins", "drei", renamed, kOwner);
    auto changed = store->SessionPictures("s", list[0].seq);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].name, "drei");
    store->Shutdown();
    EXPECT_EQ(store->WaitForChange(store->LastSeq(), 10s), store->LastSeq()); // returns at once
}

} // namespace
} // namespace glimmerly::service
