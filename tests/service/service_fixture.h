// The service's endpoint tests' fixture: a service on either store, restartable with options.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"

namespace glimmerly::service::test {

// The endpoints against a service on either store.
class ServiceTest : public BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (!IsSkipped()) {
            Restart();
        }
    }
    // (Re)starts the service on this test's store with these extra options.
    void Restart(std::vector<std::string> extraArgs = {}) {
        service_.reset();
        std::vector<std::string> args = StoreArgs();
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        service_ = std::make_unique<ServiceProcess>(temp_.Root() / "data", args);
        ASSERT_TRUE(service_->ok());
    }

    std::uint16_t up() const { return service_->uploadPort(); }
    std::uint16_t sp() const { return service_->servicePort(); }

    std::string UploadOk(const std::string& jpeg, const UploadFields& fields = {}) {
        HttpResponse r = Upload(up(), jpeg, fields);
        EXPECT_EQ(r.status, 200);
        std::string name = NameFromReply(r.body);
        EXPECT_FALSE(name.empty()) << r.body;
        return name;
    }

    std::unique_ptr<ServiceProcess> service_;
    std::string jpeg_ = MakeJpeg(64, 48, 1);
};

} // namespace glimmerly::service::test
