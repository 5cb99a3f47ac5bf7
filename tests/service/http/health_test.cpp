// GET /health, which a load balancer polls: ok while the store can take requests, 503 with the
// reason when it cannot.

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/service/service_fixture.h"

namespace glimmerly::service::test {
namespace {

namespace fs = std::filesystem;

using HealthTest = ServiceTest;

GLIMMERLY_BOTH_STORES(HealthTest);

TEST_P(HealthTest, AnswersOkOnlyWhileTheStoreWorks) {
    for (std::uint16_t port : {sp(), up()}) {
        HttpResponse r = ClientGet(port, "/health");
        EXPECT_EQ(r.status, 200) << port;
        EXPECT_EQ(r.body, "ok");
    }
    if (GetParam() == Backend::Sqlite) {
        // A volume that went away under the running service.
        fs::path pictures = temp_.Root() / "data" / "pictures";
        fs::rename(pictures, temp_.Root() / "elsewhere");
        HttpResponse r = ClientGet(sp(), "/health");
        EXPECT_EQ(r.status, 503);
        EXPECT_NE(r.body.find("pictures"), std::string::npos) << r.body;
        EXPECT_EQ(ClientGet(up(), "/health").status, 503);
        fs::rename(temp_.Root() / "elsewhere", pictures);
    } else {
        PgCluster* cluster = PgCluster::Shared();
        ASSERT_TRUE(cluster->Stop());
        HttpResponse r = ClientGet(sp(), "/health");
        EXPECT_EQ(r.status, 503);
        EXPECT_NE(r.body.find("database"), std::string::npos) << r.body;
        ASSERT_TRUE(cluster->Start());
    }
    EXPECT_EQ(ClientGet(sp(), "/health").status, 200);
    // Checking writes nothing that stays.
    if (GetParam() == Backend::Sqlite) {
        EXPECT_TRUE(fs::is_empty(temp_.Root() / "data" / "pictures"));
    }
}

} // namespace
} // namespace glimmerly::service::test
