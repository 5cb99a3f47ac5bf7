#include "tests/support/cp1252_literal.h"
#include "upload/server_protocol.h"

#include <gtest/gtest.h>

namespace glimmerly::protocol {
namespace {

using namespace glimmerly::testing::literals;
using Kind = UploadReply::Kind;

TEST(UploadReply, RegularReplyGivesVersionAndAddress) {
    const UploadReply r = ReadUploadReply("ok|3.2|http://localhost:8460/abc.jpg");
    EXPECT_EQ(r.kind, Kind::Ok);
    EXPECT_EQ(r.version, "3.2");
    EXPECT_EQ(r.address, "http://localhost:8460/abc.jpg");
}

TEST(UploadReply, AddressKeepsFurtherBars) {
    const UploadReply r = ReadUploadReply("ok|3.3|http://h/a|b.jpg");
    EXPECT_EQ(r.version, "3.3");
    EXPECT_EQ(r.address, "http://h/a|b.jpg");
}

TEST(UploadReply, DegenerateOkReplies) {
    UploadReply r = ReadUploadReply("ok");
    EXPECT_EQ(r.kind, Kind::Ok);
    EXPECT_EQ(r.version, "");
    EXPECT_EQ(r.address, "ok");

    r = ReadUploadReply("ok||http://h/x.jpg");
    EXPECT_EQ(r.version, "");
    EXPECT_EQ(r.address, "http://h/x.jpg");

    r = ReadUploadReply("ok|http://h/x.jpg");
    EXPECT_EQ(r.version, "");
    EXPECT_EQ(r.address, "http://h/x.jpg");

    // Any reply beginning with the two letters counts.
    EXPECT_EQ(ReadUploadReply("okay|1|x").kind, Kind::Ok);
}

TEST(UploadReply, ErrorWordsMustMatchWhole) {
    EXPECT_EQ(ReadUploadReply("toobig").kind, Kind::TooBig);
    EXPECT_EQ(ReadUploadReply("wrongsession").kind, Kind::WrongSession);
    EXPECT_EQ(ReadUploadReply("toobig\r\n").kind, Kind::Error);
    EXPECT_EQ(ReadUploadReply("Toobig").kind, Kind::Error);
    EXPECT_EQ(ReadUploadReply("").kind, Kind::Error);
    EXPECT_EQ(ReadUploadReply("Fehler 42").kind, Kind::Error);
    EXPECT_EQ(ReadUploadReply("OK|3.2|x").kind, Kind::Error);
}

TEST(Addresses, RenameTakesTheLastSegmentAndSendsValuesRaw) {
    EXPECT_EQ(RenameUrl("http://localhost:8460/abc.jpg", "Urlaub", "svc"),
              "http://svc/setname.php?filename=abc.jpg&newfilename=Urlaub");
    EXPECT_EQ(RenameUrl("http://h/dir/", "a b&c=dü"_cp1252, "svc"),
              "http://svc/setname.php?filename=&newfilename=a b&c=dü"_cp1252);
    EXPECT_EQ(RenameUrl("noslash", "", "svc"),
              "http://svc/setname.php?filename=noslash&newfilename=");
}

TEST(Addresses, SessionAndPages) {
    EXPECT_EQ(SessionLoginUrl("De mo", "svc:1"), "http://svc:1/loginsession.php?sessionname=De mo");
    EXPECT_EQ(SessionPageUrl("demo", "svc"), "http://svc/~demo");
    EXPECT_EQ(DownloadPageUrl("svc"), "http://svc/download.htm");
    EXPECT_EQ(UploadUrl("up:8461"), "http://up:8461/upload.php");
}

// The hosts the build was configured with, whichever they are.
TEST(Addresses, BuiltInHostsAreTheConfiguredOnes) {
    const ServiceHosts hosts = BuiltInHosts();
    EXPECT_EQ(hosts.upload, GLIMMERLY_CONFIGURED_UPLOAD_HOST);
    EXPECT_EQ(hosts.service, GLIMMERLY_CONFIGURED_SERVICE_HOST);
}

TEST(UploadFields, OptionalFieldsFollowTheRememberedPairAndSession) {
    using F = std::vector<FormField>;
    const F base{{"filename", "screenshot"}, {"version", "3.2"}};
    EXPECT_EQ(UploadFields("editor", "", "", ""), base);

    F named = base;
    named.push_back({"screenshotname", "plan"});
    EXPECT_EQ(UploadFields("editor", "editor", "plan", ""), named);
    EXPECT_EQ(UploadFields("Editor", "editor", "plan", ""), base); // exact comparison
    EXPECT_EQ(UploadFields("editor", "editor", "", ""), base);     // nothing remembered
    // A dropped file (empty proposal) after a dropped file was renamed.
    EXPECT_EQ(UploadFields("", "", "plan", ""), named);

    F session = named;
    session.push_back({"sessionname", "demo"});
    EXPECT_EQ(UploadFields("editor", "editor", "plan", "demo"), session);
}

TEST(SessionReply, FirstWordDecides) {
    SessionReply r = ReadSessionReply("ok demo");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.name, "demo");
    r = ReadSessionReply("ok");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.name, "");
    r = ReadSessionReply("ok two words");
    EXPECT_EQ(r.name, "two words");
    r = ReadSessionReply("invalidname");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.invalidName);
    r = ReadSessionReply("invalidname ");
    EXPECT_FALSE(r.invalidName);
    EXPECT_FALSE(ReadSessionReply("").ok);
    EXPECT_FALSE(ReadSessionReply("okay demo").ok);
}

TEST(RenameReply, OnlyPlainHttpCounts) {
    EXPECT_TRUE(RenameSucceeded("http://h/new.jpg"));
    EXPECT_FALSE(RenameSucceeded("https://h/new.jpg"));
    EXPECT_FALSE(RenameSucceeded("Name bereits vergeben"));
    EXPECT_FALSE(RenameSucceeded(""));
}

} // namespace
} // namespace glimmerly::protocol
