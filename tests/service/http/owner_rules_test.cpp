// Who may rename and delete a picture: only its uploader, by the owner cookie; a picture
// stored before uploads had owners has none, and stays.

#include <string>

#include <gtest/gtest.h>

#include "service/open_storage.h"
#include "service/rules/picture_store.h"
#include "tests/service/service_fixture.h"
#include "tests/support/cp1252_literal.h"

namespace glimmerly::service::test {
namespace {

using namespace glimmerly::testing::literals;

// Taking over a shared link: rename the victim's picture away, then upload one's own under its
// name. Only the uploader renames, and a name stays with its picture for good.
TEST_P(ServiceTest, OnlyTheUploaderRenamesAndAnOldAddressKeepsLeadingToItsPicture) {
    UploadFields victim;
    victim.screenshotName = "Quartalszahlen";
    victim.cookie = ""; // the first upload of a run: the client has no cookie yet
    HttpResponse first = Upload(up(), jpeg_, victim);
    ASSERT_EQ(NameFromReply(first.body), "quartalszahlen");
    const std::string setCookie = first.Header("set-cookie");
    const std::string cookie = setCookie.substr(0, setCookie.find(';'));
    ASSERT_EQ(cookie.size(), std::string(kOwnerCookie).size()) << setCookie;
    EXPECT_NE(cookie, kOwnerCookie);
    // Path "/" (a cookie without one is never sent back); no Domain between equal hosts.
    EXPECT_NE(setCookie.find("; Path=/"), std::string::npos) << setCookie;
    EXPECT_EQ(setCookie.find("Domain"), std::string::npos) << setCookie;
    // The client's next uploads keep its token.
    victim.cookie = cookie;
    victim.screenshotName = "Anhang";
    EXPECT_EQ(Upload(up(), jpeg_, victim).Header("set-cookie"), setCookie);

    const std::string refusal = "Nur wer den Screenshot hochgeladen hat, kann ihn umbenennen.";
    const std::string away = "/setname.php?filename=quartalszahlen.jpg&newfilename=weg";
    for (const std::string& other : {std::string(), std::string(kOwnerCookie),
                                     std::string("glimmerly_owner=") + std::string(32, 'x'),
                                     "other=1; glimmerly_owner=" + cookie.substr(16, 31)}) {
        HttpResponse r = ClientGet(sp(), away, other);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, refusal) << other;
    }
    EXPECT_EQ(ClientGet(sp(), "/quartalszahlen.jpg").body, jpeg_);

    // The owner renames; the attacker's upload under the old name gets a name of its own.
    EXPECT_EQ(ClientGet(sp(), "/setname.php?filename=quartalszahlen.jpg&newfilename=Q2",
                        "theme=dark; " + cookie)
                  .body,
              "http://localhost:8460/q2.jpg");
    const std::string mine = MakeJpeg(64, 48, 2);
    UploadFields attacker;
    attacker.screenshotName = "Quartalszahlen";
    EXPECT_EQ(NameFromReply(Upload(up(), mine, attacker).body), "quartalszahlen-2");
    EXPECT_EQ(ClientGet(sp(),
                        "/setname.php?filename=quartalszahlen-2.jpg&newfilename="
                        "quartalszahlen",
                        kOwnerCookie)
                  .body.rfind("Der Name „quartalszahlen“ ist bereits vergeben."_cp1252, 0),
              0u);
    for (const char* method : {"GET", "HEAD"}) {
        HttpResponse old =
            RawRequest(sp(), std::string(method) + " /quartalszahlen.jpg HTTP/1.1\r\nHost: x\r\n"
                                                   "Connection: close\r\n\r\n");
        EXPECT_EQ(old.status, 302) << method;
        EXPECT_EQ(old.Header("location"), "http://localhost:8460/q2.jpg") << method;
    }
    EXPECT_EQ(ClientGet(sp(), "/q2.jpg").body, jpeg_);
    EXPECT_EQ(ClientGet(sp(), "/nie_vergeben.jpg").status, 404);
}

// Deleting by the uploader: the address then answers 410, and only GET deletes.
TEST_P(ServiceTest, TheUploaderDeletesAPicture) {
    std::string name = UploadOk(jpeg_);
    const std::string target = "/deletepicture.php?filename=" + name + ".jpg";
    EXPECT_EQ(ClientGet(sp(), target).body,
              "Nur wer den Screenshot hochgeladen hat, kann ihn löschen."_cp1252);
    HttpResponse head =
        RawRequest(sp(), "HEAD " + target + " HTTP/1.1\r\nHost: x\r\nCookie: " + kOwnerCookie +
                             "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(head.status, 405);
    EXPECT_EQ(ClientGet(sp(), "/" + name + ".jpg").status, 200);
    EXPECT_EQ(ClientGet(sp(), target, kOwnerCookie).body, "Der Screenshot wurde gelöscht."_cp1252);
    EXPECT_EQ(ClientGet(sp(), "/" + name + ".jpg").status, 410);
    EXPECT_EQ(ClientGet(sp(), target, kOwnerCookie).body.rfind("Der Screenshot wurde nicht", 0),
              0u);
    EXPECT_EQ(ClientGet(sp(), "/deletepicture.php", kOwnerCookie).body.rfind("Fehlende", 0), 0u);
}

// Pictures stored before uploads had owners have none: a request without the owner cookie (which
// has no owner either) neither deletes nor renames them.
TEST_P(ServiceTest, APictureWithoutOwnerStaysWithoutTheCookie) {
    service_.reset();
    {
        StoreOptions options;
        options.folder = (temp_.Root() / "data").string();
        options.database = database_;
        std::string error;
        std::unique_ptr<StorageBackend> storage = OpenStorage(options, error);
        ASSERT_TRUE(storage) << error;
        PictureStore store(std::move(storage));
        ASSERT_EQ(
            store
                .AddPicture(jpeg_, JpegSize{64, 48}, "Von früher"_cp1252, "", std::chrono::hours(1))
                .name,
            "von_frueher");
    }
    Restart();
    EXPECT_EQ(ClientGet(sp(), "/deletepicture.php?filename=von_frueher.jpg").body,
              "Nur wer den Screenshot hochgeladen hat, kann ihn löschen."_cp1252);
    EXPECT_EQ(ClientGet(sp(), "/setname.php?filename=von_frueher.jpg&newfilename=Neu").body,
              "Nur wer den Screenshot hochgeladen hat, kann ihn umbenennen."_cp1252);
    HttpResponse picture = ClientGet(sp(), "/von_frueher.jpg");
    EXPECT_EQ(picture.status, 200);
    EXPECT_EQ(picture.body, jpeg_);
}

} // namespace
} // namespace glimmerly::service::test
