// Uploads on two instances of one PostgreSQL database with the server flushing every commit to
// disk, as in production, and without: the notice each change sends at its commit must reach
// the other instance's open pages whether a commit takes microseconds or a disk flush, and the
// change counter must number the changes without gaps or repeats.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace glimmerly::service::test {
namespace {

using namespace std::chrono_literals;

class FlushedCommitsTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        cluster_ = GetParam() ? PgCluster::Flushing() : PgCluster::Shared();
        if (!cluster_) {
            if (PostgresRequired()) {
                GTEST_FAIL() << PgCluster::Why();
            }
            GTEST_SKIP() << PgCluster::Why();
        }
        // The cluster must be what the test says it is.
        const std::string fsync = GetParam() ? "on" : "off";
        ASSERT_EQ(cluster_->Sql("postgres", "DO $$ BEGIN IF current_setting('fsync') <> '" + fsync +
                                                "' THEN RAISE EXCEPTION 'fsync is not " + fsync +
                                                "'; END IF; END $$"),
                  "");
        const std::string database = cluster_->NewDatabase();
        for (const char* name : {"a", "b"}) {
            instances_.push_back(std::make_unique<ServiceProcess>(
                temp_.Root() / name, std::vector<std::string>{"--database", database}));
            ASSERT_TRUE(instances_.back()->ok());
        }
    }
    void TearDown() override {
        for (int fd : streams_) {
            ::close(fd);
        }
    }
    // Opens the live stream of session s on an instance, from the start of the session.
    int OpenStream(const ServiceProcess& instance) {
        const int fd = Connect(instance.servicePort());
        const std::string request = "GET /~s/events?after=0 HTTP/1.1\r\nHost: x\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        streams_.push_back(fd);
        return fd;
    }
    // Reads a stream into seen until it sent count picture events or 10 s passed.
    static std::vector<StreamEvent> ReadEvents(int fd, std::string& seen, std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (PictureEvents(seen).size() < count && std::chrono::steady_clock::now() < deadline) {
            if (!ReadMore(fd, seen, 1000)) {
                std::this_thread::sleep_for(100ms); // closed: the deadline ends the wait
            }
        }
        return PictureEvents(seen);
    }

    PgCluster* cluster_ = nullptr;
    TempDir temp_{"glimmerly-flushed"};
    std::vector<std::unique_ptr<ServiceProcess>> instances_;
    std::vector<int> streams_;
};

TEST_P(FlushedCommitsTest, EveryUploadReachesTheStreamsOfBothInstancesNumberedInOrder) {
    ServiceProcess& a = *instances_[0];
    ServiceProcess& b = *instances_[1];
    ASSERT_EQ(ClientGet(a.servicePort(), "/loginsession.php?sessionname=s").body, "ok s");
    const int onA = OpenStream(a);
    const int onB = OpenStream(b);

    // Parallel uploads to both instances, so that commits queue behind the counter's row.
    constexpr int kClients = 4;
    constexpr int kEach = 6;
    const std::string base = MakeJpeg(64, 48, 3);
    std::mutex mutex;
    std::multiset<std::string> names;
    std::atomic<int> failed{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            UploadFields fields;
            fields.sessionName = "s";
            for (int i = 0; i < kEach; ++i) {
                const ServiceProcess& to = (c + i) % 2 ? a : b;
                const std::string jpeg = WithComment(base, static_cast<unsigned>(c * 100 + i));
                const std::string name = NameFromReply(Upload(to.uploadPort(), jpeg, fields).body);
                std::lock_guard lock(mutex);
                failed += name.empty();
                names.insert(name);
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    ASSERT_EQ(failed.load(), 0);
    constexpr std::size_t kParallel = kClients * kEach;
    ASSERT_EQ(std::set<std::string>(names.begin(), names.end()).size(), kParallel);

    // One more on each in turn: the other instance hears of it only through its notice, as no
    // later upload of its own makes it look.
    std::string seenA, seenB;
    UploadFields fields;
    fields.sessionName = "s";
    const std::string lastOnA = NameFromReply(Upload(a.uploadPort(), base, fields).body);
    ASSERT_EQ(ReadEvents(onB, seenB, kParallel + 1).size(), kParallel + 1) << "instance b";
    const std::string lastOnB =
        NameFromReply(Upload(b.uploadPort(), WithComment(base, 99), fields).body);
    ASSERT_EQ(ReadEvents(onA, seenA, kParallel + 2).size(), kParallel + 2) << "instance a";
    names.insert(lastOnA);
    names.insert(lastOnB);

    for (auto [fd, seen] : {std::pair{onA, &seenA}, std::pair{onB, &seenB}}) {
        const std::vector<StreamEvent> events = ReadEvents(fd, *seen, names.size());
        ASSERT_EQ(events.size(), names.size()) << (fd == onA ? "instance a" : "instance b");
        std::multiset<std::string> shown;
        for (std::size_t i = 0; i < events.size(); ++i) {
            // One number per change, in the order of the commits, none left out.
            EXPECT_EQ(events[i].id, static_cast<long long>(i + 1));
            shown.insert(events[i].name);
        }
        EXPECT_EQ(shown, names);
    }
}

INSTANTIATE_TEST_SUITE_P(Commits, FlushedCommitsTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "FsyncOn" : "FsyncOff");
                         });

} // namespace
} // namespace glimmerly::service::test
