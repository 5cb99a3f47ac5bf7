// Uploads with the desktop client's own HTTP code through haproxy over two service instances on
// one PostgreSQL database: every picture stored exactly once and byte-identical, also when one
// instance is killed in the middle, and no upload fails while both instances are restarted one
// after the other.
//
// An upload whose answer was lost (the instance died while it was being served) is not sent
// again: the service has no way to tell a repeated upload from a new one, so a retry could store
// the picture twice. Such an upload may be stored (whole) or not at all; every upload answered
// "ok" must be there.

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "net/http_client.h"
#include "net/multipart_body.h"
#include "tests/service/haproxy.h"
#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace glimmerly::service::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kClients = 40;
constexpr int kEach = 10;

struct Outcome {
    std::map<std::string, std::string> stored; // name answered "ok" -> bytes sent
    std::vector<std::string> unanswered;       // bytes of uploads without an "ok"
    std::vector<Clock::time_point> failedAt;
    std::string lastError;
};

class BalancedLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (HaproxyProcess::Program().empty()) {
            GTEST_SKIP() << "haproxy is not installed";
        }
        GLIMMERLY_PG_OR_SKIP(cluster);
        std::string database = cluster->NewDatabase();
        // All connections come from haproxy's address, unless it names the clients.
        args_ = {"--database", database, "--per-address-limit", "512"};
        // With the PROXY header they are named, but all of this test's clients share 127.0.0.1;
        // the limit stays high enough for haproxy's new and not yet closed connections.
        if (proxyProtocol_) {
            args_.push_back("--proxy-protocol");
        }
        for (const char* name : {"a", "b"}) {
            instances_.push_back(std::make_unique<ServiceProcess>(temp_.Root() / name, args_));
            ASSERT_TRUE(instances_.back()->ok());
        }
        balancer_ = std::make_unique<HaproxyProcess>(
            temp_.Root(),
            std::vector<std::uint16_t>{instances_[0]->uploadPort(), instances_[1]->uploadPort()},
            std::vector<std::uint16_t>{instances_[0]->servicePort(), instances_[1]->servicePort()},
            proxyProtocol_);
        ASSERT_TRUE(balancer_->ok());
        ASSERT_EQ(ClientGet(balancer_->servicePort(), "/loginsession.php?sessionname=load").body,
                  "ok load");
    }

    // 400 uploads from 40 clients, each with its own HttpClient; half of them race for one name.
    // afterAnswers is called once when that many uploads have been answered. While busy is
    // set, the clients go on beyond their 10 uploads.
    Outcome UploadAll(int afterAnswers = -1, const std::function<void()>& then = {},
                      const std::atomic<bool>* busy = nullptr) {
        const std::string base = MakeJpeg(64, 64, 21);
        const std::string url =
            "http://127.0.0.1:" + std::to_string(balancer_->uploadPort()) + "/upload.php";
        Outcome outcome;
        std::mutex mutex;
        std::atomic<int> answered{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.emplace_back([&, c] {
                net::HttpClient client;
                client.SetIdleTimeout(10000);
                for (int i = 0; i < kEach || (busy && *busy); ++i) {
                    std::string jpeg = WithComment(base, static_cast<unsigned>(c * 1000 + i),
                                                   500 + static_cast<std::size_t>(c * 31 + i));
                    std::filesystem::path file =
                        temp_.Root() / ("shot-" + std::to_string(c) + "-" + std::to_string(i));
                    std::ofstream(file, std::ios::binary) << jpeg;
                    net::MultipartBody body;
                    body.AddField("filename", "screenshot");
                    body.AddField("version", "3.2");
                    body.AddField("screenshotname", i % 2 == 0 ? "Gleicher Name" : "");
                    body.AddField("sessionname", "load");
                    body.AddFilePart("screenshot", file.string(), "image/jpeg");
                    std::string name;
                    std::string error;
                    try {
                        name = NameFromReply(client.Post(url, body));
                    } catch (const std::exception& e) {
                        error = e.what();
                    }
                    {
                        std::lock_guard lock(mutex);
                        if (name.empty() || !outcome.stored.emplace(name, jpeg).second) {
                            outcome.unanswered.push_back(jpeg);
                            outcome.failedAt.push_back(Clock::now());
                            outcome.lastError = error;
                        }
                    }
                    if (++answered == afterAnswers && then) {
                        then();
                    }
                }
            });
        }
        for (auto& t : clients) {
            t.join();
        }
        return outcome;
    }

    // Every stored picture is one upload's bytes, whole; every "ok" is there; nothing twice.
    // Returns how many unanswered uploads were stored all the same.
    int ExpectStoredExactlyOnce(const Outcome& outcome, std::uint16_t servicePort) {
        std::map<std::string, int> unanswered;
        for (const std::string& bytes : outcome.unanswered) {
            ++unanswered[bytes];
        }
        std::map<std::string, std::string> okByBytes;
        for (const auto& [name, bytes] : outcome.stored) {
            okByBytes.emplace(bytes, name);
        }
        std::vector<std::string> listed = ListedNames(ClientGet(servicePort, "/~load").body);
        std::map<std::string, int> seen;
        int storedUnanswered = 0;
        for (const std::string& name : listed) {
            std::string bytes = ClientGet(servicePort, "/" + name + ".jpg").body;
            EXPECT_EQ(++seen[bytes], 1) << name << " holds a picture stored before";
            auto ok = outcome.stored.find(name);
            if (ok != outcome.stored.end()) {
                EXPECT_EQ(bytes, ok->second) << name;
            } else {
                EXPECT_TRUE(unanswered.count(bytes)) << name << " holds no upload's bytes";
                ++storedUnanswered;
                EXPECT_FALSE(okByBytes.count(bytes)) << name << " is an ok'd upload again";
            }
        }
        for (const auto& [name, bytes] : outcome.stored) {
            EXPECT_EQ(seen[bytes], 1) << name << " answered ok but not listed once";
        }
        return storedUnanswered;
    }

    TempDir temp_{"glimmerly-balanced"};
    bool proxyProtocol_ = false;
    std::vector<std::string> args_;
    std::vector<std::unique_ptr<ServiceProcess>> instances_;
    std::unique_ptr<HaproxyProcess> balancer_;
};

TEST_F(BalancedLoadTest, FourHundredUploadsThroughTheBalancerAreStoredExactlyOnce) {
    auto start = Clock::now();
    Outcome outcome = UploadAll();
    auto took = Clock::now() - start;
    EXPECT_TRUE(outcome.unanswered.empty())
        << outcome.unanswered.size() << " failed, last: " << outcome.lastError;
    ASSERT_EQ(outcome.stored.size(), static_cast<std::size_t>(kClients * kEach));
    EXPECT_TRUE(outcome.stored.count("gleicher_name"));
    EXPECT_TRUE(outcome.stored.count("gleicher_name-200"));
    ExpectStoredExactlyOnce(outcome, balancer_->servicePort());
    std::printf("400 uploads from 40 clients through haproxy over 2 instances: %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

TEST_F(BalancedLoadTest, AnInstanceKilledInTheMiddleLosesNoAnsweredUpload) {
    Clock::time_point killedAt{};
    Outcome outcome = UploadAll(100, [&] {
        killedAt = Clock::now();
        instances_[1]->Stop(SIGKILL);
    });
    ASSERT_NE(killedAt, Clock::time_point{});
    // At most the uploads in flight at the kill fail, and none a moment after it: haproxy moves
    // on to the instance that is left.
    EXPECT_LE(outcome.unanswered.size(), static_cast<std::size_t>(kClients));
    long late = std::count_if(outcome.failedAt.begin(), outcome.failedAt.end(),
                              [&](Clock::time_point at) { return at - killedAt > 2s; });
    EXPECT_EQ(late, 0) << "uploads failed more than 2 s after the kill";
    EXPECT_GE(outcome.stored.size(), static_cast<std::size_t>(kClients * kEach - kClients));
    int storedUnanswered = ExpectStoredExactlyOnce(outcome, instances_[0]->servicePort());
    std::printf("instance killed after 100 answers: %zu of 400 uploads unanswered (%s), %d of "
                "them stored all the same\n",
                outcome.unanswered.size(), outcome.lastError.c_str(), storedUnanswered);
}

// Both instances are stopped with SIGTERM and started again on their ports, one after the
// other, while 40 clients upload. haproxy sends a PROXY header on every connection.
class RollingRestartTest : public BalancedLoadTest {
protected:
    void SetUp() override {
        proxyProtocol_ = true;
        BalancedLoadTest::SetUp();
    }

    // SIGTERM, then the same instance again on the same ports once the old one has exited; then
    // a pause for haproxy's health check to take it back (two checks 200 ms apart).
    void Restart(std::size_t index) {
        const char* name = index == 0 ? "a" : "b";
        std::vector<std::string> args = args_;
        for (const char* option : {"--service-port", "--upload-port"}) {
            args.push_back(option);
            args.push_back(std::to_string(std::string(option) == "--service-port"
                                              ? instances_[index]->servicePort()
                                              : instances_[index]->uploadPort()));
        }
        int status = instances_[index]->Stop(SIGTERM);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        stopOutput_ += instances_[index]->Output();
        instances_[index] = std::make_unique<ServiceProcess>(temp_.Root() / name, args);
        ASSERT_TRUE(instances_[index]->ok());
        std::this_thread::sleep_for(1s);
    }

    std::string stopOutput_;
};

TEST_F(RollingRestartTest, BothInstancesRestartedOneAfterTheOtherDuringUploadsLoseNone) {
    std::atomic<bool> restarting{true};
    std::thread restarts;
    auto start = Clock::now();
    Outcome outcome = UploadAll(
        40,
        [&] {
            restarts = std::thread([&] {
                Restart(0);
                Restart(1);
                restarting = false;
            });
        },
        &restarting);
    restarts.join();
    auto took = Clock::now() - start;
    EXPECT_TRUE(outcome.unanswered.empty())
        << outcome.unanswered.size() << " failed, last: " << outcome.lastError;
    EXPECT_GE(outcome.stored.size(), static_cast<std::size_t>(kClients * kEach));
    ExpectStoredExactlyOnce(outcome, balancer_->servicePort());
    // Both old instances finished what they had and stopped cleanly.
    std::size_t stops = 0;
    for (std::size_t at = 0;
         (at = stopOutput_.find("stopped (SIGTERM)\n", at)) != std::string::npos; ++at) {
        ++stops;
    }
    EXPECT_EQ(stops, 2u) << stopOutput_;
    std::printf("rolling restart of 2 instances behind haproxy: %zu uploads from 40 clients, %zu "
                "failed, %lld ms\n",
                outcome.stored.size() + outcome.unanswered.size(), outcome.unanswered.size(),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

} // namespace
} // namespace glimmerly::service::test
