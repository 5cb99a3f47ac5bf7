// Two service instances on one PostgreSQL database: whatever one of them took, the other serves,
// names stay unique when both take the same one at the same moment, and an open session page on
// one shows what arrives at the other.

#include <sys/wait.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace glimmerly::service::test {
namespace {

class TwoInstancesTest : public ::testing::Test {
protected:
    void SetUp() override {
        GLIMMERLY_PG_OR_SKIP(cluster);
        std::string database = cluster->NewDatabase();
        a_ = std::make_unique<ServiceProcess>(temp_.Root() / "a", Args(database));
        b_ = std::make_unique<ServiceProcess>(temp_.Root() / "b", Args(database));
        ASSERT_TRUE(a_->ok() && b_->ok());
    }
    static std::vector<std::string> Args(const std::string& database) {
        return {"--database", database};
    }

    TempDir temp_{"glimmerly-instances"};
    std::unique_ptr<ServiceProcess> a_;
    std::unique_ptr<ServiceProcess> b_;
};

TEST_F(TwoInstancesTest, WhatOneTookTheOtherServesAndRenames) {
    ASSERT_EQ(ClientGet(b_->servicePort(), "/loginsession.php?sessionname=Team").body, "ok Team");
    std::string jpeg = MakeJpeg(90, 60, 4);
    UploadFields fields;
    fields.screenshotName = "Besprechung";
    fields.sessionName = "Team"; // opened on the other instance
    EXPECT_EQ(Upload(a_->uploadPort(), jpeg, fields).body,
              "ok|3.2|http://localhost:8460/besprechung.jpg");
    EXPECT_EQ(ClientGet(b_->servicePort(), "/besprechung.jpg").body, jpeg);

    // Renamed on B with the raw typed name, served by A under the new name only.
    EXPECT_EQ(ClientGet(b_->servicePort(),
                        "/setname.php?filename=besprechung.jpg&newfilename="
                        "Pr\xE4sentation f\xFCr Kunden",
                        kOwnerCookie)
                  .body,
              "http://localhost:8460/praesentation_fuer_kunden.jpg");
    EXPECT_EQ(ClientGet(a_->servicePort(), "/praesentation_fuer_kunden.jpg").body, jpeg);
    HttpResponse old = ClientGet(a_->servicePort(), "/besprechung.jpg");
    EXPECT_EQ(old.status, 302);
    EXPECT_EQ(old.Header("location"), "http://localhost:8460/praesentation_fuer_kunden.jpg");
    std::string page = ClientGet(a_->servicePort(), "/~Team").body;
    EXPECT_NE(page.find("/praesentation_fuer_kunden.jpg"), std::string::npos);
    EXPECT_EQ(page.find("/besprechung.jpg"), std::string::npos);

    // A name given out through one instance is given out for the other as well.
    EXPECT_EQ(Upload(b_->uploadPort(), MakeJpeg(30, 30, 5), fields).body,
              "ok|3.2|http://localhost:8460/besprechung-2.jpg");
    EXPECT_NE(ClientGet(a_->servicePort(),
                        "/setname.php?filename=besprechung-2.jpg&newfilename="
                        "praesentation fuer kunden",
                        kOwnerCookie)
                  .body.find("ist bereits vergeben"),
              std::string::npos);
}

TEST_F(TwoInstancesTest, SameNameAtTheSameMomentOnBothGetsDistinctNames) {
    constexpr int kRounds = 15;
    const std::string base = MakeJpeg(48, 32, 6);
    std::vector<std::string> sent[2];
    std::vector<std::string> names[2];
    std::vector<std::thread> threads;
    for (int side = 0; side < 2; ++side) {
        threads.emplace_back([&, side] {
            std::uint16_t port = side == 0 ? a_->uploadPort() : b_->uploadPort();
            UploadFields fields;
            fields.screenshotName = "Gleicher Name";
            for (int i = 0; i < kRounds; ++i) {
                std::string jpeg = WithComment(base, static_cast<unsigned>(side * 100 + i));
                names[side].push_back(NameFromReply(Upload(port, jpeg, fields).body));
                sent[side].push_back(std::move(jpeg));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<std::string> all;
    for (int side = 0; side < 2; ++side) {
        for (int i = 0; i < kRounds; ++i) {
            const std::string& name = names[side][i];
            ASSERT_FALSE(name.empty());
            EXPECT_TRUE(all.insert(name).second) << name << " given twice";
            // Each name holds the picture of the upload that got it, whichever instance asks.
            EXPECT_EQ(ClientGet(b_->servicePort(), "/" + name + ".jpg").body, sent[side][i]);
        }
    }
    EXPECT_TRUE(all.count("gleicher_name"));
    EXPECT_TRUE(all.count("gleicher_name-" + std::to_string(2 * kRounds)));
}

TEST_F(TwoInstancesTest, OpenPageOnOneShowsUploadsAndRenamesOnTheOtherLive) {
    std::string command = std::string("/usr/bin/python3 ") + GLIMMERLY_SERVICE_TEST_DIR +
                          "/browser_across.py " + std::to_string(a_->uploadPort()) + " " +
                          std::to_string(a_->servicePort()) + " " +
                          std::to_string(b_->servicePort());
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "chromium cannot run here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace glimmerly::service::test
