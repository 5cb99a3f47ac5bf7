// Many clients at once: nothing lost, nothing mixed up.

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace glimmerly::service::test {
namespace {

class ServiceLoadTest : public BackendTest {};

GLIMMERLY_BOTH_STORES(ServiceLoadTest);

TEST_P(ServiceLoadTest, TwoHundredUploadsFromTwentyClientsArriveIntact) {
    ServiceProcess service(temp_.Root() / "data", StoreArgs());
    ASSERT_TRUE(service.ok());
    ASSERT_EQ(ClientGet(service.servicePort(), "/loginsession.php?sessionname=last").body,
              "ok last");
    const std::string base = MakeJpeg(64, 64, 11);
    constexpr int kClients = 20;
    constexpr int kEach = 10;
    std::mutex mutex;
    std::map<std::string, std::string> sent; // name -> bytes
    std::atomic<int> failures{0};
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < kEach; ++i) {
                std::string jpeg = WithComment(base, static_cast<unsigned>(c * 1000 + i),
                                               1000 + static_cast<std::size_t>(c * 97 + i * 13));
                UploadFields f;
                f.sessionName = "last";
                if (i % 2 == 0) {
                    f.screenshotName = "Gleicher Name"; // all clients race for one name
                }
                HttpResponse r = Upload(service.uploadPort(), jpeg, f);
                std::string name = NameFromReply(r.body);
                std::lock_guard lock(mutex);
                if (name.empty() || !sent.emplace(name, jpeg).second) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(failures.load(), 0);
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kClients * kEach));
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_TRUE(sent.count("gleicher_name"));
    EXPECT_TRUE(sent.count("gleicher_name-100"));

    HttpResponse page = ClientGet(service.servicePort(), "/~last");
    std::vector<std::string> listed = ListedNames(page.body);
    EXPECT_EQ(listed.size(), sent.size());
    for (const std::string& name : listed) {
        auto it = sent.find(name);
        ASSERT_NE(it, sent.end()) << name;
        HttpResponse picture = ClientGet(service.servicePort(), "/" + name + ".jpg");
        EXPECT_EQ(picture.body, it->second) << name;
    }
    std::printf("%s: 200 uploads from 20 clients took %lld ms\n",
                GetParam() == Backend::Sqlite ? "SQLite" : "PostgreSQL",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

} // namespace
} // namespace glimmerly::service::test
