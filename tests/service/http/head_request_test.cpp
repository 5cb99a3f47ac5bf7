// HEAD on the service host: answered without acting, so a link checker or proxy that probes the
// rename and login addresses changes nothing.

#include <string>

#include <gtest/gtest.h>

#include "tests/service/service_fixture.h"

namespace glimmerly::service::test {
namespace {

class HeadRequestTest : public ServiceTest {
protected:
    HttpResponse Head(const std::string& target) {
        return RawRequest(sp(), "HEAD " + target +
                                    " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    }
};

GLIMMERLY_BOTH_STORES(HeadRequestTest);

TEST_P(HeadRequestTest, RenameAndLoginAreRefusedAndChangeNothing) {
    std::string name = UploadOk(jpeg_);
    HttpResponse rename = Head("/setname.php?filename=" + name + ".jpg&newfilename=Neuer Name");
    EXPECT_EQ(rename.status, 405);
    EXPECT_EQ(rename.Header("allow"), "GET");
    EXPECT_TRUE(rename.body.empty());
    EXPECT_EQ(ClientGet(sp(), "/" + name + ".jpg").status, 200);
    EXPECT_EQ(ClientGet(sp(), "/neuer_name.jpg").status, 404);

    HttpResponse login = Head("/loginsession.php?sessionname=Kopfsache");
    EXPECT_EQ(login.status, 405);
    EXPECT_EQ(login.Header("allow"), "GET");
    EXPECT_EQ(ClientGet(sp(), "/~Kopfsache").status, 404);
    UploadFields inSession;
    inSession.sessionName = "Kopfsache";
    EXPECT_EQ(Upload(up(), jpeg_, inSession).body, "wrongsession");

    // The same requests as GET still act, and HEAD of a page or picture still answers.
    EXPECT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=Kopfsache").body, "ok Kopfsache");
    EXPECT_EQ(Head("/~Kopfsache").status, 200);
    EXPECT_EQ(Head("/" + name + ".jpg").status, 200);
}

} // namespace
} // namespace glimmerly::service::test
