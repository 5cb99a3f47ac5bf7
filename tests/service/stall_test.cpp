// A writer that holds the store's write lock and does not let go (a stuck transaction, a stopped
// instance, a shell left open) stalls nobody: uploads are refused with 503 and Retry-After while
// it holds, and refused before the hold ends, so nothing refused is stored later behind the
// client's back; pictures and session pages are served all the while. An upload whose COMMIT
// went unanswered is answered by what the database did with it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "service/postgres/postgres_pool.h"
#include "service/postgres/postgres_storage.h"
#include "service/rules/picture_store.h"
#include "tests/service/service_fixture.h"
#include "tests/support/cp1252_literal.h"

namespace glimmerly::service::test {
namespace {

using namespace std::chrono_literals;
using namespace glimmerly::testing::literals;

// Holds the write lock of a store from outside the service until released: for PostgreSQL the
// change counter's row in an open transaction, for SQLite the database's write lock.
class WriteHold {
public:
    static std::unique_ptr<WriteHold> Postgres(const std::string& database) {
        auto hold = std::unique_ptr<WriteHold>(new WriteHold());
        hold->pg_ = std::make_unique<pg::Connection>(database);
        EXPECT_TRUE(hold->pg_->ok()) << hold->pg_->Error();
        // This connection must outlast every bound the service sets for its own.
        hold->pg_->Script("SET idle_in_transaction_session_timeout = 0; SET statement_timeout = 0; "
                          "SET lock_timeout = 0; BEGIN");
        hold->pg_->Must("SELECT last FROM change_counter FOR UPDATE");
        return hold;
    }
    static std::unique_ptr<WriteHold> Sqlite(const std::string& file) {
        auto hold = std::unique_ptr<WriteHold>(new WriteHold());
        EXPECT_EQ(sqlite3_open(file.c_str(), &hold->sqlite_), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(hold->sqlite_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        return hold;
    }
    ~WriteHold() { Release(); }

    // Backends of this database that wait for a lock (PostgreSQL only).
    int LockWaiters() {
        return static_cast<int>(
            pg_->Must("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                      "AND wait_event_type = 'Lock'")
                .Int(0, 0));
    }
    void Release() {
        if (pg_) {
            pg_->Script("ROLLBACK");
            pg_.reset();
        }
        if (sqlite_) {
            sqlite3_exec(sqlite_, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(sqlite_);
            sqlite_ = nullptr;
        }
    }

private:
    WriteHold() = default;
    std::unique_ptr<pg::Connection> pg_;
    sqlite3* sqlite_ = nullptr;
};

class StallTest : public ServiceTest {
protected:
    std::unique_ptr<WriteHold> Hold() {
        if (database_.empty()) {
            return WriteHold::Sqlite((temp_.Root() / "data" / "glimmerly.db").string());
        }
        return WriteHold::Postgres(database_);
    }

    // An upload under a typed name, sent on its own thread.
    std::future<HttpResponse> UploadLater(const std::string& typedName) {
        return std::async(std::launch::async, [this, typedName] {
            UploadFields fields;
            fields.sessionName = "s";
            fields.screenshotName = typedName;
            return Upload(up(), jpeg_, fields, 40000);
        });
    }

    // A refusal of a held store: 503 with a time to come back and a text the client can show.
    static void ExpectBusy(const HttpResponse& r) {
        EXPECT_EQ(r.status, 503) << r.body;
        EXPECT_GT(std::atoi(r.Header("retry-after").c_str()), 0);
        EXPECT_EQ(r.body.rfind("Der Dienst ist gerade ausgelastet."_cp1252, 0), 0u) << r.body;
    }

    // Until held: what the requests made meanwhile must have in common.
    void ExpectReadsServed() {
        HttpResponse picture = ClientGet(sp(), "/vorher.jpg");
        EXPECT_EQ(picture.status, 200);
        EXPECT_TRUE(picture.body == jpeg_);
        HttpResponse page = ClientGet(sp(), "/~s");
        EXPECT_EQ(page.status, 200);
        EXPECT_EQ(ListedNames(page.body), std::vector<std::string>{"vorher"});
    }

    // After the hold: the refused names were never stored, so the same names are free now.
    void ExpectStoredOnlyAfterwards(const std::vector<std::string>& refused) {
        for (const std::string& name : refused) {
            EXPECT_EQ(ClientGet(sp(), "/" + name + ".jpg").status, 404) << name;
            UploadFields fields;
            fields.sessionName = "s";
            fields.screenshotName = name;
            EXPECT_EQ(UploadOk(jpeg_, fields), name);
        }
    }

    void SetUpSession() {
        ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=s").body, "ok s");
        UploadFields fields;
        fields.sessionName = "s";
        fields.screenshotName = "vorher";
        ASSERT_EQ(UploadOk(jpeg_, fields), "vorher");
    }
};

TEST_P(StallTest, AHeldStoreRefusesUploadsWhileItHoldsAndStillServesReads) {
    SetUpSession();
    std::unique_ptr<WriteHold> hold = Hold();
    std::future<HttpResponse> upload = UploadLater("gesperrt");
    // Refused while the hold lasts, which is as long as this test waits.
    bool answeredWhileHeld = upload.wait_for(20s) == std::future_status::ready;
    ExpectReadsServed();
    // A login writes too: "ok" only for a session that was stored.
    HttpResponse login = ClientGet(sp(), "/loginsession.php?sessionname=t");
    hold->Release();
    ASSERT_TRUE(answeredWhileHeld) << "the upload waited for the lock to be released";
    ExpectBusy(upload.get());
    ExpectStoredOnlyAfterwards({"gesperrt"});
    if (login.body == "ok t") {
        UploadFields fields;
        fields.sessionName = "t";
        EXPECT_FALSE(UploadOk(jpeg_, fields).empty());
    } else {
        ExpectBusy(login);
    }
}

GLIMMERLY_BOTH_STORES(StallTest);

// Uploads that wait for a held counter never take the connections the reads need.
class PoolStallTest : public StallTest {};

TEST_P(PoolStallTest, UploadsWaitingForTheCounterLeaveConnectionsForReads) {
    Restart({"--database-pool", "2"});
    SetUpSession();
    std::unique_ptr<WriteHold> hold = Hold();
    std::vector<std::future<HttpResponse>> uploads;
    for (const char* name : {"eins", "zwei", "drei", "vier"}) {
        uploads.push_back(UploadLater(name));
    }
    // At least one upload has a connection and waits for the counter.
    for (int i = 0; i < 100 && hold->LockWaiters() == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    std::future<void> reads = std::async(std::launch::async, [this] { ExpectReadsServed(); });
    bool readWhileHeld = reads.wait_for(10s) == std::future_status::ready;
    bool refusedWhileHeld = true;
    for (auto& u : uploads) {
        refusedWhileHeld = u.wait_for(20s) == std::future_status::ready && refusedWhileHeld;
    }
    hold->Release();
    EXPECT_TRUE(readWhileHeld) << "reads waited for the uploads' connections";
    EXPECT_TRUE(refusedWhileHeld) << "uploads waited for the lock to be released";
    reads.get();
    for (auto& u : uploads) {
        ExpectBusy(u.get());
    }
    ExpectStoredOnlyAfterwards({"eins", "zwei", "drei", "vier"});
}

INSTANTIATE_TEST_SUITE_P(Stores, PoolStallTest,
                         ::testing::Values(::glimmerly::service::test::Backend::Postgres),
                         ::glimmerly::service::test::BackendName);

// A TCP relay on loopback in front of the database that, when armed, loses one COMMIT: either
// the COMMIT itself (the server never gets it) or its reply (the server commits, the client
// never hears of it); the connection is cut either way.
class CommitCutter {
public:
    enum class Cut { None, Request, Reply };

    explicit CommitCutter(std::uint16_t target) : target_(target) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        ::listen(listen_, 16);
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~CommitCutter() {
        ending_ = true;
        acceptor_.join();
        for (auto& t : relays_) {
            t.join();
        }
        ::close(listen_);
    }
    std::uint16_t Port() const { return port_; }
    void Arm(Cut cut) { cut_ = cut; }

private:
    void Accept() {
        while (!ending_) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 50) == 1) {
                int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                relays_.emplace_back([this, client] { Relay(client); });
            }
        }
    }
    void Relay(int client) {
        int server = Connect(target_);
        bool cutReply = false;
        char buffer[65536];
        while (!ending_ && server >= 0) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0) {
                continue;
            }
            if (p[0].revents) {
                ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    break;
                }
                std::string_view bytes(buffer, static_cast<std::size_t>(n));
                if (cut_ != Cut::None &&
                    bytes.find(std::string_view("COMMIT\0", 7)) != std::string_view::npos) {
                    if (cut_.exchange(Cut::None) == Cut::Request) {
                        break;
                    }
                    cutReply = true;
                }
                ::send(server, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            }
            if (p[1].revents) {
                ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
                if (n <= 0 || cutReply) {
                    break;
                }
                ::send(client, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            }
        }
        ::close(client);
        if (server >= 0) {
            ::close(server);
        }
    }

    std::uint16_t target_;
    std::uint16_t port_ = 0;
    int listen_ = -1;
    std::atomic<Cut> cut_{Cut::None};
    std::atomic<bool> ending_{false};
    std::thread acceptor_;
    std::vector<std::thread> relays_; // only the acceptor adds to it
};

TEST(LostCommitTest, AnUploadIsAnsweredByWhatTheDatabaseDidWithItsCommit) {
    GLIMMERLY_PG_OR_SKIP(cluster);
    const std::string database = cluster->NewDatabase();
    CommitCutter cutter(cluster->Port());
    std::string address = database;
    address.replace(address.rfind(':'), address.rfind('/') - address.rfind(':'),
                    ":" + std::to_string(cutter.Port()));
    std::string error;
    std::unique_ptr<PostgresStorage> storage = PostgresStorage::Open(address, 2, error);
    ASSERT_TRUE(storage) << error;
    PictureStore store(std::move(storage));
    const std::string jpeg = MakeJpeg(20, 10, 3);

    // Stored although its client never heard the COMMIT's reply: a refusal would have the
    // picture sent and stored again.
    cutter.Arm(CommitCutter::Cut::Reply);
    PictureStore::UploadResult landed = store.AddPicture(jpeg, {20, 10}, "Angekommen", "", 1h);
    EXPECT_EQ(landed.status, PictureStore::UploadStatus::Stored);
    EXPECT_EQ(landed.name, "angekommen");

    // The COMMIT never reached the server: nothing stored, and the refusal says "try again".
    cutter.Arm(CommitCutter::Cut::Request);
    EXPECT_THROW(store.AddPicture(jpeg, {20, 10}, "Verloren", "", 1h), StoreUnavailable);

    ASSERT_TRUE(store.FindPicture("angekommen"));
    EXPECT_TRUE(store.ReadPicture("angekommen")->bytes == jpeg);
    EXPECT_FALSE(store.FindPicture("verloren"));
    EXPECT_EQ(store.AddPicture(jpeg, {20, 10}, "Angekommen", "", 1h).name, "angekommen-2");
}

} // namespace
} // namespace glimmerly::service::test
