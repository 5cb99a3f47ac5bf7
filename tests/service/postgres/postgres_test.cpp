// What only the PostgreSQL store has to get right: several stores on one database, its schema,
// and the database going away and coming back.

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "service/postgres/postgres_schema.h"
#include "service/postgres/postgres_storage.h"
#include "service/rules/picture_store.h"
#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"
#include "tests/support/cp1252_literal.h"

namespace glimmerly::service::test {
namespace {

using namespace std::chrono_literals;
using namespace glimmerly::testing::literals;

class PostgresTest : public ::testing::Test {
protected:
    void SetUp() override {
        GLIMMERLY_PG_OR_SKIP(cluster);
        cluster_ = cluster;
        database_ = cluster->NewDatabase();
    }
    std::unique_ptr<PictureStore> Open() {
        std::string error;
        auto storage = PostgresStorage::Open(database_, 4, error);
        EXPECT_TRUE(storage) << error;
        return storage ? std::make_unique<PictureStore>(std::move(storage)) : nullptr;
    }

    PgCluster* cluster_ = nullptr;
    std::string database_;
    std::string jpeg_ = MakeJpeg(20, 10, 7);
    JpegSize size_{20, 10};
};

TEST_F(PostgresTest, StoresOnOneDatabaseNeverHandOutANameTwice) {
    // Instances starting at the same moment on an empty database take turns with the schema.
    std::unique_ptr<PictureStore> opened[4];
    std::vector<std::thread> starting;
    for (auto& store : opened) {
        starting.emplace_back([&] { store = Open(); });
    }
    for (auto& t : starting) {
        t.join();
    }
    std::unique_ptr<PictureStore>& a = opened[0];
    std::unique_ptr<PictureStore>& b = opened[3];
    ASSERT_TRUE(a && opened[1] && opened[2] && b);
    constexpr int kThreads = 8;
    constexpr int kEach = 5;
    std::mutex mutex;
    std::multiset<std::string> names;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            PictureStore& store = t % 2 ? *a : *b;
            while (!go) {
            }
            for (int i = 0; i < kEach; ++i) {
                auto r = store.AddPicture(jpeg_, size_, "Gleicher Name", "", 1h, "k");
                EXPECT_EQ(r.status, PictureStore::UploadStatus::Stored);
                std::lock_guard lock(mutex);
                names.insert(r.name);
            }
        });
    }
    go = true;
    for (auto& t : threads) {
        t.join();
    }
    std::set<std::string> expected{"gleicher_name"};
    for (int n = 2; n <= kThreads * kEach; ++n) {
        expected.insert("gleicher_name-" + std::to_string(n));
    }
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
    EXPECT_EQ(names.size(), expected.size());
    // A rename racing for one free name: exactly one wins.
    std::atomic<int> renamed{0};
    std::thread x([&] {
        std::string n;
        renamed +=
            a->Rename("gleicher_name", "Ziel", n, "k") == PictureStore::RenameStatus::Renamed;
    });
    std::thread y([&] {
        std::string n;
        renamed +=
            b->Rename("gleicher_name-2", "Ziel", n, "k") == PictureStore::RenameStatus::Renamed;
    });
    x.join();
    y.join();
    EXPECT_EQ(renamed.load(), 1);
}

// A live page reads "everything after the last seq it saw". Changes from two instances commit
// concurrently; if a higher seq could become visible before a lower one, the page would move
// past the lower one and never show it.
TEST_F(PostgresTest, ReadingAfterTheLastSeenChangeNeverSkipsOne) {
    auto a = Open();
    auto b = Open();
    auto reader = Open();
    ASSERT_TRUE(a && b && reader);
    a->OpenSession("s", 1h);
    constexpr int kWriters = 6;
    constexpr int kEach = 25;
    std::atomic<int> running{kWriters};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            PictureStore& store = w % 2 ? *a : *b;
            for (int i = 0; i < kEach; ++i) {
                auto r = store.AddPicture(jpeg_, size_, "", "s", 1h, "k");
                EXPECT_EQ(r.status, PictureStore::UploadStatus::Stored);
                if (i % 5 == 0) {
                    std::string n;
                    store.Rename(r.name, "w" + std::to_string(w) + "_" + std::to_string(i), n, "k");
                }
            }
            --running;
        });
    }
    std::set<std::string> seen;
    std::int64_t last = 0;
    auto follow = [&] {
        for (const StoredPicture& p : reader->SessionPictures("s", last)) {
            seen.insert(p.name);
            last = std::max(last, p.seq);
        }
    };
    while (running > 0) {
        follow();
    }
    for (auto& w : writers) {
        w.join();
    }
    follow();
    std::set<std::string> all;
    for (const StoredPicture& p : reader->SessionPictures("s")) {
        all.insert(p.name);
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kWriters * kEach));
    for (const std::string& name : all) {
        EXPECT_TRUE(seen.count(name)) << name << " was skipped";
    }
    EXPECT_EQ(last, reader->LastSeq());
}

TEST_F(PostgresTest, AChangeOnOneInstanceWakesTheWaitersOfAnother) {
    auto a = Open();
    auto b = Open();
    ASSERT_TRUE(a && b);
    a->OpenSession("s", 1h);
    std::int64_t seen = b->LastSeq();
    std::thread uploader([&] {
        std::this_thread::sleep_for(100ms);
        a->AddPicture(jpeg_, size_, "eins", "s", 1h);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_GT(b->WaitForChange(seen, 5s), seen);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    uploader.join();
    ASSERT_EQ(b->SessionPictures("s", seen).size(), 1u);
    EXPECT_EQ(b->SessionPictures("s", seen)[0].name, "eins");
}

TEST_F(PostgresTest, RefusesADatabaseItCannotUse) {
    {
        auto store = Open(); // creates the schema
    }
    // A newer program has upgraded the database: this one must not touch it.
    const std::string newer = std::to_string(pg::kSchemaVersion + 1);
    ASSERT_EQ(cluster_->Sql(database_.substr(database_.rfind('/') + 1),
                            "UPDATE glimmerly_schema SET version = " + newer),
              "");
    std::string error;
    EXPECT_FALSE(PostgresStorage::Open(database_, 2, error));
    EXPECT_NE(error.find("schema version " + newer), std::string::npos) << error;
    EXPECT_NE(error.find("too old"), std::string::npos) << error;

    // Nobody listens on the port: the service says so and exits.
    std::string dead = "postgresql://postgres@127.0.0.1:1/nothing";
    std::string command = std::string(GLIMMERLY_SERVICE_BINARY) + " --database " + dead +
                          " --service-port 0 --upload-port 0 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out)) {
        output += buffer;
    }
    int status = ::pclose(out);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("glimmerly-service: cannot connect to the database"), std::string::npos)
        << output;
}

TEST_F(PostgresTest, ServiceAnswers503DuringAnOutageAndRecoversAfterwards) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess a(temp.Root() / "a", {"--database", database_});
    // B takes the database from the environment, the place for passwords.
    ::setenv("GLIMMERLY_DATABASE", database_.c_str(), 1);
    ServiceProcess b(temp.Root() / "b");
    ::unsetenv("GLIMMERLY_DATABASE");
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_NE(a.readyLine().find("database postgresql://127.0.0.1:"), std::string::npos);
    EXPECT_NE(b.readyLine().find("database postgresql://127.0.0.1:"), std::string::npos);
    ASSERT_EQ(ClientGet(a.servicePort(), "/loginsession.php?sessionname=s").body, "ok s");
    UploadFields f;
    f.sessionName = "s";
    f.screenshotName = "vorher";
    ASSERT_EQ(NameFromReply(Upload(a.uploadPort(), jpeg_, f).body), "vorher");

    // Several requests at once leave several connections in B's pool.
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back(
            [&] { EXPECT_EQ(ClientGet(b.servicePort(), "/vorher.jpg").status, 200); });
    }
    for (auto& t : readers) {
        t.join();
    }

    ASSERT_TRUE(cluster_->Stop());
    f.screenshotName = "waehrenddessen";
    HttpResponse refused = Upload(a.uploadPort(), jpeg_, f);
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.body.rfind("Die Datenbank ist gerade nicht erreichbar."_cp1252, 0), 0u)
        << refused.body;
    EXPECT_EQ(ClientGet(a.servicePort(), "/vorher.jpg").status, 503);
    EXPECT_EQ(ClientGet(a.servicePort(), "/loginsession.php?sessionname=t").status, 503);
    // An open page's event stream is not refused (a browser would give up on it for good) but
    // ends at once, so the page keeps trying.
    auto asked = std::chrono::steady_clock::now();
    HttpResponse stream = ClientGet(a.servicePort(), "/~s/events?after=1");
    EXPECT_EQ(stream.status, 200);
    EXPECT_EQ(stream.Header("content-type"), "text/event-stream; charset=utf-8");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
    ASSERT_TRUE(cluster_->Start());

    // B saw nothing of the outage: every connection in its pool is stale, yet its first request
    // after the restart succeeds.
    EXPECT_EQ(ClientGet(b.servicePort(), "/vorher.jpg").body, jpeg_);
    EXPECT_EQ(ClientGet(b.servicePort(), "/waehrenddessen.jpg").status, 404);
    f.screenshotName = "danach";
    EXPECT_EQ(NameFromReply(Upload(a.uploadPort(), jpeg_, f).body), "danach");

    // B's listener is back as well: an upload on A shows up live on B's page.
    int fd = Connect(b.servicePort());
    ASSERT_GE(fd, 0);
    std::string request = "GET /~s/events?after=0 HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string seen;
    auto shows = [&](const std::string& text) {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (seen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadMore(fd, seen, 1000)) {
                if (std::chrono::steady_clock::now() > deadline) {
                    return false;
                }
            }
        }
        return true;
    };
    EXPECT_TRUE(shows("\"name\":\"danach\"")) << seen;
    std::this_thread::sleep_for(1s); // the listener reconnects within half a second
    f.screenshotName = "live";
    EXPECT_EQ(NameFromReply(Upload(a.uploadPort(), jpeg_, f).body), "live");
    EXPECT_TRUE(shows("\"name\":\"live\"")) << seen;
    ::close(fd);
}

} // namespace
} // namespace glimmerly::service::test
