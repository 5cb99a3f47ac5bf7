// The service's endpoints over raw sockets, with the exact bytes the desktop client sends.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/open_storage.h"
#include "service/rules/picture_store.h"
#include "tests/service/service_fixture.h"
#include "tests/support/cp1252_literal.h"

namespace glimmerly::service::test {
namespace {

using namespace glimmerly::testing::literals;

GLIMMERLY_BOTH_STORES(ServiceTest);

TEST_P(ServiceTest, UploadRepliesWithVersionAndAddressAndServesTheSameBytes) {
    HttpResponse r = Upload(up(), jpeg_);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.rfind("ok|3.2|http://localhost:8460/", 0), 0u) << r.body;
    std::string name = NameFromReply(r.body);
    EXPECT_EQ(name.size(), 8u); // no screenshotname: a short random name

    HttpResponse picture = ClientGet(sp(), "/" + name + ".jpg");
    EXPECT_EQ(picture.status, 200);
    EXPECT_EQ(picture.Header("content-type"), "image/jpeg");
    EXPECT_EQ(picture.body, jpeg_);
    // The upload port only takes uploads.
    EXPECT_EQ(ClientGet(up(), "/" + name + ".jpg").status, 404);
    EXPECT_EQ(ClientGet(up(), "/upload.php").status, 405);
}

TEST_P(ServiceTest, ScreenshotNameIsMadeAddressSafeAndUnique) {
    UploadFields f;
    f.screenshotName = "Urlaub am See";
    EXPECT_EQ(UploadOk(jpeg_, f), "urlaub_am_see");
    EXPECT_EQ(UploadOk(jpeg_, f), "urlaub_am_see-2");
    EXPECT_EQ(UploadOk(jpeg_, f), "urlaub_am_see-3");
    f.screenshotName = "Grüße aus Köln"_cp1252;
    EXPECT_EQ(UploadOk(jpeg_, f), "gruesse_aus_koeln");
    f.screenshotName = "../../etc/passwd";
    EXPECT_EQ(UploadOk(jpeg_, f), "etc_passwd");
    f.screenshotName = "C:\\Bilder\\plan";
    EXPECT_EQ(UploadOk(jpeg_, f), "c_bilder_plan");
    f.screenshotName = "%2e%2e";
    EXPECT_EQ(UploadOk(jpeg_, f), "2e_2e");
    f.screenshotName = "???";
    EXPECT_EQ(UploadOk(jpeg_, f).size(), 8u); // nothing usable: random name
}

TEST_P(ServiceTest, UploadLimitIsExactly307200Bytes) {
    // Pad a real JPEG with comment segments to the exact limit.
    std::string big = jpeg_;
    unsigned seed = 10;
    while (307200 - big.size() > 65000) {
        big = WithComment(big, seed++, 60000);
    }
    big = WithComment(big, seed, 307200 - big.size() - 4);
    ASSERT_EQ(big.size(), 307200u);
    std::string name = UploadOk(big);
    EXPECT_EQ(ClientGet(sp(), "/" + name + ".jpg").body, big);

    std::string over = WithComment(big, 99, 1).substr(0, 307200) + std::string("\xFF\xD9", 2);
    ASSERT_EQ(over.size(), 307202u);
    EXPECT_EQ(Upload(up(), over).body, "toobig");
    // Around the largest picture the form may take 64 KiB more; a body beyond that is not kept.
    for (std::size_t extra : {0, 1}) {
        std::string body = UploadBody(big);
        const std::string close = std::string("--") + kBoundary + "--";
        std::string pad = std::string("--") + kBoundary +
                          "\r\nContent-Disposition: form-data; name=\"pad\"\r\n\r\n";
        const std::size_t size = body.size() + pad.size() + 2;
        ASSERT_LT(size, 307200u + 64 * 1024);
        pad += std::string(307200 + 64 * 1024 - size + extra, 'p') + "\r\n";
        body.insert(body.rfind(close), pad);
        ASSERT_EQ(body.size(), 307200u + 64 * 1024 + extra);
        HttpResponse r = RawRequest(up(), UploadRequest(body, up()));
        if (extra) {
            EXPECT_EQ(r.body, "toobig");
        } else {
            EXPECT_EQ(NameFromReply(r.body).size(), 8u) << r.body;
        }
    }
    // Far larger bodies are read to the end and answered the same way.
    std::string huge(2 * 1024 * 1024, 'x');
    HttpResponse r = Upload(up(), huge);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "toobig");
}

TEST_P(ServiceTest, NonJpegAndDamagedUploadsAreRefused) {
    // Not a JPEG: a German error text in Windows-1252 (the client shows it in a message box).
    HttpResponse r = Upload(up(), "BM this is a bitmap, not a jpeg");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "Die hochgeladene Datei ist kein gültiges JPEG-Bild."_cp1252);
    EXPECT_EQ(r.Header("content-type"), "text/plain; charset=windows-1252");
    // Cut short: no end marker.
    EXPECT_EQ(Upload(up(), jpeg_.substr(0, jpeg_.size() / 2)).body, r.body);
    EXPECT_EQ(Upload(up(), "").body, r.body);
    // SOI and EOI around garbage: the header does not decode.
    EXPECT_EQ(Upload(up(), std::string("\xFF\xD8\xFF\xE0garbage-garbage\xFF\xD9", 21)).body,
              r.body);
}

TEST_P(ServiceTest, MalformedMultipartIsAnsweredNotCrashed) {
    std::string good = UploadBody(jpeg_);
    auto send = [&](const std::string& body, const std::string& type) {
        return RawRequest(up(), UploadRequest(body, up(), type));
    };
    EXPECT_EQ(send(good, "text/plain").status, 400);
    EXPECT_EQ(send(good, "multipart/form-data").status, 400); // no boundary
    EXPECT_EQ(send(good, "multipart/form-data; boundary=other").status, 400);
    std::string type = std::string("multipart/form-data; boundary=") + kBoundary;
    EXPECT_EQ(send(good.substr(0, good.size() - 40), type).status, 400); // no closing delimiter
    EXPECT_EQ(send("", type).status, 400);
    EXPECT_EQ(send(std::string(5000, '-'), type).status, 400);
    std::string noFile = std::string("--") + kBoundary +
                         "\r\nContent-Disposition: form-data; name=\"filename\"\r\n\r\nscreenshot"
                         "\r\n--" +
                         kBoundary + "--\r\n";
    HttpResponse r = send(noFile, type);
    EXPECT_EQ(r.status, 400);
    EXPECT_NE(r.body.find("kein Bild"), std::string::npos);
    std::string headless =
        std::string("--") + kBoundary + "\r\nno header end" + std::string(9000, 'a');
    EXPECT_EQ(send(headless, type).status, 400);
    // A declared body far beyond any picture is refused before it is read.
    HttpResponse refused =
        RawRequest(up(), "POST /upload.php HTTP/1.0\r\nContent-Type: " + type +
                             "\r\nContent-Length: 999999999999\r\nHost: x\r\n\r\n");
    EXPECT_EQ(refused.status, 413);
    // Headers beyond the memory limit.
    HttpResponse longHeader = RawRequest(
        sp(), "GET / HTTP/1.1\r\nHost: x\r\nX-Long: " + std::string(100000, 'a') + "\r\n\r\n");
    EXPECT_TRUE(!longHeader.ok || longHeader.status == 431 || longHeader.status == 413)
        << longHeader.statusLine;
    // Still serving afterwards.
    EXPECT_EQ(Upload(up(), jpeg_).status, 200);
}

TEST_P(ServiceTest, RenameTakesRawBlanksUmlautsAndAmpersands) {
    std::string name = UploadOk(jpeg_);
    // The client's rename after an upload: HTTP/1.0 leftovers and the raw typed name.
    std::string request = "GET /setname.php?filename=" + name +
                          ".jpg&newfilename=" + "Grüne"_cp1252 +
                          " Wiese am See HTTP/1.1\r\n"
                          "Connection: keep-alive\r\nContent-Type: multipart/form-data; "
                          "boundary=--------120626134507089\r\nHost: localhost\r\n"
                          "Accept: text/html, */*\r\nUser-Agent: Doveviraza Zudavove\r\n"
                          "Cookie: " +
                          std::string(kOwnerCookie) + "\r\n\r\n";
    HttpResponse r = RawRequest(sp(), request);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "http://localhost:8460/gruene_wiese_am_see.jpg");
    EXPECT_EQ(ClientGet(sp(), "/gruene_wiese_am_see.jpg").body, jpeg_);

    // "&" and "=" inside the typed name survive: only the first "&newfilename=" splits.
    r = ClientGet(sp(), "/setname.php?filename=gruene_wiese_am_see.jpg&newfilename=Tom & Jerry=1+1",
                  kOwnerCookie);
    EXPECT_EQ(r.body, "http://localhost:8460/tom_jerry_1_1.jpg");
    // Renaming to its own name again is fine.
    r = ClientGet(sp(), "/setname.php?filename=tom_jerry_1_1.jpg&newfilename=Tom Jerry 1 1",
                  kOwnerCookie);
    EXPECT_EQ(r.body, "http://localhost:8460/tom_jerry_1_1.jpg");
}

TEST_P(ServiceTest, RenameErrorsAreGermanTexts) {
    std::string a = UploadOk(jpeg_);
    std::string b = UploadOk(jpeg_);
    HttpResponse taken =
        ClientGet(sp(), "/setname.php?filename=" + a + ".jpg&newfilename=" + b, kOwnerCookie);
    EXPECT_EQ(taken.body.rfind("Der Name „"_cp1252 + b + "“ ist bereits vergeben."_cp1252, 0), 0u)
        << taken.body;
    HttpResponse unknown =
        ClientGet(sp(), "/setname.php?filename=nothere.jpg&newfilename=x", kOwnerCookie);
    EXPECT_EQ(unknown.body.rfind("Der Screenshot wurde nicht gefunden.", 0), 0u);
    for (const std::string& bad :
         std::vector<std::string>{"", "...", " / ", std::string(201, 'a')}) {
        HttpResponse r =
            ClientGet(sp(), "/setname.php?filename=" + a + ".jpg&newfilename=" + bad, kOwnerCookie);
        EXPECT_EQ(r.body.rfind("Ungültiger Name."_cp1252, 0), 0u) << bad << ": " << r.body;
    }
    HttpResponse missing = ClientGet(sp(), "/setname.php?filename=" + a + ".jpg", kOwnerCookie);
    EXPECT_EQ(missing.body.rfind("Fehlende Angaben", 0), 0u);
    // A traversal attempt as the current name is simply unknown.
    HttpResponse trav =
        ClientGet(sp(), "/setname.php?filename=../glimmerly.db&newfilename=x", kOwnerCookie);
    EXPECT_EQ(trav.body.rfind("Der Screenshot wurde nicht gefunden.", 0), 0u);
    // None of this moved the pictures.
    EXPECT_EQ(ClientGet(sp(), "/" + a + ".jpg").status, 200);
    EXPECT_EQ(ClientGet(sp(), "/" + b + ".jpg").status, 200);
}

TEST_P(ServiceTest, SessionLoginAcceptsOnlySimpleNames) {
    EXPECT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=Demo_1-x").body, "ok Demo_1-x");
    EXPECT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=" + std::string(40, 'a')).body,
              "ok " + std::string(40, 'a'));
    for (std::string bad : {std::string(), std::string("a b"), std::string(41, 'a'),
                            std::string("../x"), "Müller"_cp1252, std::string("a+b")}) {
        EXPECT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=" + bad).body, "invalidname")
            << bad;
    }
    EXPECT_EQ(ClientGet(sp(), "/loginsession.php").body, "invalidname");
}

TEST_P(ServiceTest, UploadsInASessionNeedAnOpenSession) {
    UploadFields f;
    f.sessionName = "nosuch";
    EXPECT_EQ(Upload(up(), jpeg_, f).body, "wrongsession");
    f.sessionName = "bad name";
    EXPECT_EQ(Upload(up(), jpeg_, f).body, "wrongsession");
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=team").body, "ok team");
    f.sessionName = "team";
    f.screenshotName = "<script>alert(1)</script>";
    std::string first = UploadOk(jpeg_, f);
    f.screenshotName = "Zweites Bild";
    std::string second = UploadOk(jpeg_, f);

    HttpResponse page = ClientGet(sp(), "/~team");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.Header("content-type"), "text/html; charset=utf-8");
    std::size_t posFirst = page.body.find("/" + first + ".jpg");
    std::size_t posSecond = page.body.find("/" + second + ".jpg");
    ASSERT_NE(posFirst, std::string::npos);
    ASSERT_NE(posSecond, std::string::npos);
    EXPECT_LT(posSecond, posFirst); // newest first
    EXPECT_EQ(page.body.find("<script>alert"), std::string::npos);
    EXPECT_NE(page.body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_EQ(ClientGet(sp(), "/~nosuch").status, 404);
    EXPECT_EQ(ClientGet(sp(), "/~bad%20name").status, 404);
}

TEST_P(ServiceTest, ExpiredSessionsRefuseUploadsButKeepTheirPage) {
    Restart({"--session-ttl", "1"});
    ServiceProcess& service = *service_;
    ASSERT_EQ(ClientGet(service.servicePort(), "/loginsession.php?sessionname=kurz").body,
              "ok kurz");
    UploadFields f;
    f.sessionName = "kurz";
    std::string jpeg = MakeJpeg(16, 16, 3);
    EXPECT_EQ(NameFromReply(Upload(service.uploadPort(), jpeg, f).body).size(), 8u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(Upload(service.uploadPort(), jpeg, f).body, "wrongsession");
    HttpResponse page = ClientGet(service.servicePort(), "/~kurz");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("abgelaufen"), std::string::npos);
    // Logging in again reopens it.
    ASSERT_EQ(ClientGet(service.servicePort(), "/loginsession.php?sessionname=kurz").body,
              "ok kurz");
    EXPECT_EQ(Upload(service.uploadPort(), jpeg, f).body.rfind("ok|", 0), 0u);
}

TEST_P(ServiceTest, NoPathLeavesTheDataFolder) {
    std::string name = UploadOk(jpeg_);
    for (const std::string& target : std::vector<std::string>{
             "/../glimmerly.db", "/%2e%2e/glimmerly.db", "/..%2fglimmerly.db", "/glimmerly.db",
             "/pictures/", "/lock", "/../../../../etc/passwd", "/..\\glimmerly.db",
             "/%2e%2e%2fglimmerly.db.jpg", "/../" + name + ".jpg", "/pictures/" + name + ".jpg",
             "/~../../etc", "/~team/../../glimmerly.db", "//etc/passwd", "/.jpg"}) {
        HttpResponse r = ClientGet(sp(), target);
        EXPECT_EQ(r.status, 404) << target;
        EXPECT_EQ(r.body.find("SQLite"), std::string::npos) << target;
    }
}

TEST_P(ServiceTest, PagesAreGermanHtml) {
    HttpResponse home = ClientGet(sp(), "/");
    EXPECT_EQ(home.status, 200);
    EXPECT_NE(home.body.find("<html lang=\"de\">"), std::string::npos);
    EXPECT_NE(home.body.find("Session ansehen"), std::string::npos);
    HttpResponse download = ClientGet(sp(), "/download.htm");
    EXPECT_EQ(download.status, 200);
    EXPECT_NE(download.body.find("Die aktuelle Version ist <strong>3.2</strong>"),
              std::string::npos);
    HttpResponse go = ClientGet(sp(), "/?session=team");
    EXPECT_EQ(go.status, 303);
    EXPECT_EQ(go.Header("location"), "/~team");
    EXPECT_EQ(ClientGet(sp(), "/?session=<b>").status, 200);
    EXPECT_EQ(ClientGet(sp(), "/session.js").Header("content-type"),
              "text/javascript; charset=utf-8");
    HttpResponse post =
        RawRequest(sp(), "POST /setname.php HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(post.status, 405);
}

TEST(ServiceOptionsTest, VersionAndPublicHostGoIntoReplies) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data",
                           {"--version", "3.3", "--public-host", "bilder.example:8080"});
    ASSERT_TRUE(service.ok());
    std::string jpeg = MakeJpeg(16, 16, 4);
    UploadFields f;
    f.screenshotName = "plan";
    EXPECT_EQ(Upload(service.uploadPort(), jpeg, f).body,
              "ok|3.3|http://bilder.example:8080/plan.jpg");
    EXPECT_EQ(ClientGet(service.servicePort(), "/setname.php?filename=plan.jpg&newfilename=Plan B",
                        kOwnerCookie)
                  .body,
              "http://bilder.example:8080/plan_b.jpg");
    // A second service cannot take the same data folder.
    std::string command = std::string(GLIMMERLY_SERVICE_BINARY) + " --data '" +
                          (temp.Root() / "data").string() +
                          "' --service-port 0 --upload-port 0 2>&1";
    FILE* second = ::popen(command.c_str(), "r");
    ASSERT_NE(second, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, second)) {
        output += buffer;
    }
    int status = ::pclose(second);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("is in use by another glimmerly-service"), std::string::npos) << output;
}

} // namespace
} // namespace glimmerly::service::test
