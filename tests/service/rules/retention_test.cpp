// Sessions expired longer ago than the retention are deleted; their pictures stay.

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "service/open_storage.h"
#include "service/rules/picture_store.h"
#include "tests/service/service_fixture.h"

namespace glimmerly::service::test {
namespace {

using namespace std::chrono_literals;

using RetentionTest = ServiceTest;

GLIMMERLY_BOTH_STORES(RetentionTest);

std::int64_t Ms(PictureStore::Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

TEST_P(RetentionTest, PurgeDeletesOnlySessionsExpiredBeforeItsTime) {
    service_.reset(); // the back end directly, on this test's store
    StoreOptions options;
    options.folder = (temp_.Root() / "data").string();
    options.database = database_;
    std::string error;
    std::unique_ptr<StorageBackend> owned = OpenStorage(options, error);
    ASSERT_TRUE(owned) << error;
    StorageBackend& backend = *owned;
    const PictureStore::Clock::time_point t0 = PictureStore::Clock::now();
    PictureStore store(std::move(owned), [t0] { return t0; });
    store.OpenSession("alt", 1h);
    store.OpenSession("frisch", 48h);
    std::string jpeg = MakeJpeg(20, 10, 4);
    PictureStore::UploadResult picture =
        store.AddPicture(jpeg, JpegSize{20, 10}, "Bild", "alt", 1h);
    ASSERT_EQ(picture.status, PictureStore::UploadStatus::Stored);
    ASSERT_EQ(backend.SessionExpiry("alt"), Ms(t0 + 1h));

    EXPECT_EQ(backend.PurgeSessions(Ms(t0 + 1h)), 0); // expired at that moment, not before it
    EXPECT_EQ(backend.PurgeSessions(Ms(t0 + 2h)), 1);
    EXPECT_EQ(backend.PurgeSessions(Ms(t0 + 2h)), 0);
    EXPECT_EQ(store.GetSession("alt"), PictureStore::SessionState::Unknown);
    EXPECT_EQ(store.GetSession("frisch"), PictureStore::SessionState::Active);
    ASSERT_TRUE(store.FindPicture(picture.name));
    EXPECT_EQ(store.FindPicture(picture.name)->session, "alt");
    EXPECT_TRUE(store.ReadPicture(picture.name));
}

TEST_P(RetentionTest, TheServiceDeletesOldSessionsWhenItStarts) {
    Restart({"--session-ttl", "0.2"});
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=Kurz").body, "ok Kurz");
    UploadFields inSession;
    inSession.sessionName = "Kurz";
    std::string name = UploadOk(jpeg_, inSession);
    std::this_thread::sleep_for(400ms);
    // Within the default retention an expired session's page still shows its pictures.
    Restart();
    HttpResponse page = ClientGet(sp(), "/~Kurz");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(ListedNames(page.body), std::vector<std::string>{name});

    Restart({"--session-retention", "0.000001"}); // 86 ms
    int status = 0;
    for (int i = 0; i < 200 && (status = ClientGet(sp(), "/~Kurz").status) != 404; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(status, 404);
    EXPECT_EQ(ClientGet(sp(), "/" + name + ".jpg").body, jpeg_);
    EXPECT_NE(service_->Output().find("deleted 1 expired session(s)"), std::string::npos);
}

} // namespace
} // namespace glimmerly::service::test
