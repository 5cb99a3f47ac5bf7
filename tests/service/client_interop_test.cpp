// The desktop client's own HTTP client and multipart body against the running service, in the
// order the program sends them: session login, upload in the session, rename with the raw typed
// name (each on its own connection, as the host changes between them).

#include <fstream>

#include <gtest/gtest.h>

#include "net/http_client.h"
#include "net/multipart_body.h"
#include "tests/service/harness.h"
#include "tests/support/cp1252_literal.h"

namespace glimmerly::service::test {
namespace {

using namespace glimmerly::testing::literals;

TEST(ServiceClientTest, RealClientUploadsRenamesAndLogsIn) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data");
    ASSERT_TRUE(service.ok());
    const std::string host = "http://127.0.0.1:";
    const std::string serviceHost = host + std::to_string(service.servicePort());
    net::HttpClient client;
    client.SetIdleTimeout(5000); // a stuck exchange fails the test instead of hanging it

    // Login with the trimmed name, as the session dialog sends it.
    EXPECT_EQ(client.Get(serviceHost + "/loginsession.php?sessionname=Demo"), "ok Demo");
    // A second GET to the same host reuses the kept-alive connection.
    EXPECT_EQ(client.Get(serviceHost + "/loginsession.php?sessionname=Demo"), "ok Demo");
    EXPECT_EQ(client.Get(serviceHost + "/loginsession.php?sessionname=x y"), "invalidname");

    std::string jpeg = MakeJpeg(120, 80, 31);
    std::filesystem::path file = temp.Root() / "screen.jpg";
    std::ofstream(file, std::ios::binary) << jpeg;
    std::string reply;
    {
        net::MultipartBody body;
        body.AddField("filename", "screenshot");
        body.AddField("version", "3.2");
        body.AddField("screenshotname", "Besprechung");
        body.AddField("sessionname", "Demo");
        body.AddFilePart("screenshot", file.string(), "image/jpeg");
        reply = client.Post(host + std::to_string(service.uploadPort()) + "/upload.php", body);
    }
    EXPECT_EQ(reply, "ok|3.2|http://localhost:8460/besprechung.jpg");

    // The rename goes out raw: blanks and a Windows-1252 umlaut byte; the GET after the POST
    // carries the upload's Connection and Content-Type lines, and the cookie the upload set.
    std::string renamed =
        client.Get(serviceHost + "/setname.php?filename=besprechung.jpg&newfilename=" +
                   "Präsentation für Kunden"_cp1252);
    EXPECT_EQ(renamed, "http://localhost:8460/praesentation_fuer_kunden.jpg");
    client.Disconnect();

    // What the others see.
    EXPECT_EQ(ClientGet(service.servicePort(), "/praesentation_fuer_kunden.jpg").body, jpeg);
    std::string page = ClientGet(service.servicePort(), "/~Demo").body;
    EXPECT_NE(page.find("/praesentation_fuer_kunden.jpg"), std::string::npos);
    EXPECT_NE(page.find("Pr\xC3\xA4sentation f\xC3\xBCr Kunden"), std::string::npos); // UTF-8
}

// Upload host and service host are two names on one parent domain: the client's cookie store
// sends the upload's cookie to the service host, and to nobody else's client.
TEST(ServiceClientTest, OnlyTheClientThatUploadedRenames) {
    TempDir temp{"glimmerly-service"};
    ServiceProcess service(temp.Root() / "data", {"--public-host", "www.bilder.test"});
    ASSERT_TRUE(service.ok());
    const std::string uploadAddress =
        "http://upload.bilder.test:" + std::to_string(service.uploadPort()) + "/upload.php";
    const std::string serviceHost =
        "http://www.bilder.test:" + std::to_string(service.servicePort());
    auto loopback = [](const std::string&, int port) {
        return Connect(static_cast<std::uint16_t>(port));
    };
    std::filesystem::path file = temp.Root() / "screen.jpg";
    std::ofstream(file, std::ios::binary) << MakeJpeg(40, 30, 3);
    auto upload = [&](net::HttpClient& client, const std::string& name) {
        net::MultipartBody body;
        body.AddField("filename", "screenshot");
        body.AddField("version", "3.2");
        body.AddField("screenshotname", name);
        body.AddFilePart("screenshot", file.string(), "image/jpeg");
        return client.Post(uploadAddress, body);
    };
    net::HttpClient owner;
    net::HttpClient other;
    for (net::HttpClient* client : {&owner, &other}) {
        client->SetIdleTimeout(5000);
        client->SetConnector(loopback);
    }
    EXPECT_EQ(upload(owner, "Quartalszahlen"), "ok|3.2|http://www.bilder.test/quartalszahlen.jpg");
    EXPECT_EQ(upload(owner, "Anhang"), "ok|3.2|http://www.bilder.test/anhang.jpg");
    EXPECT_EQ(upload(other, "Eigenes"), "ok|3.2|http://www.bilder.test/eigenes.jpg");

    EXPECT_EQ(other.Get(serviceHost + "/setname.php?filename=quartalszahlen.jpg&newfilename=weg"),
              "Nur wer den Screenshot hochgeladen hat, kann ihn umbenennen.");
    EXPECT_EQ(owner.Get(serviceHost + "/setname.php?filename=anhang.jpg&newfilename=Anhang 2"),
              "http://www.bilder.test/anhang_2.jpg");
    EXPECT_EQ(owner.Get(serviceHost + "/setname.php?filename=quartalszahlen.jpg&newfilename=Q2"),
              "http://www.bilder.test/q2.jpg");
    EXPECT_EQ(other.Get(serviceHost + "/setname.php?filename=eigenes.jpg&newfilename=Q2 neu"),
              "http://www.bilder.test/q2_neu.jpg");
}

} // namespace
} // namespace glimmerly::service::test
