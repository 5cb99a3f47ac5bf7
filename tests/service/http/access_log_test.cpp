// The access log: its lines survive any target bytes, name the real client behind a balancer,
// and say why a request failed.

#include "service/http/access_log.h"

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <unistd.h>

#include "service/http/server.h"
#include "service/rules/picture_store.h"
#include "tests/service/harness.h"
#include "tests/service/raw_client.h"
#include "tests/service/rules/fake_storage.h"
#include "tests/service/tool_run.h"

namespace glimmerly::service {
namespace {

using test::FakeStorage;
using test::HttpResponse;

// What a JSON reader makes of a line: the target's bytes (each character as one byte), then
// the cause in UTF-8, then the other fields, one per line.
std::string ReadBackWithPython(const glimmerly::testing::TempDir& temp, const std::string& line) {
    std::string file = temp.Write("line.json", line);
    test::ToolRun run = test::RunTool(
        {"/usr/bin/python3", "-c",
         "import json, sys\n"
         "d = json.loads(open(sys.argv[1], 'rb').read().decode('utf-8'))\n"
         "out = sys.stdout.buffer\n"
         "out.write(d['target'].encode('latin-1') + b'\\n' + d['cause'].encode('utf-8') + "
         "b'\\n')\n"
         "for k in ('time', 'client', 'method', 'status', 'bytes', 'ms'):\n"
         "    out.write((k + '=' + repr(d[k]) + '\\n').encode())\n",
         file},
        20);
    EXPECT_EQ(run.status, 0) << run.output;
    return run.output;
}

TEST(AccessLogLine, KeepsAnyTargetBytesWithinOneSafeLine) {
    glimmerly::testing::TempDir temp("glimmerly-log");
    AccessRecord r;
    r.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765183212345));
    r.instance = "eins";
    r.host = "service";
    r.client = "203.0.113.7";
    r.method = "GET";
    r.target = std::string("/setname.php?filename=a.jpg&newfilename=\"Gr\xFC\xDF"
                           "e\" \\ \x01\x1B[31m\r\nFAKE 200\x7F\xE4\x80") +
               std::string("\0!", 2);
    r.status = 500;
    r.bytes = 12;
    r.ms = 3.25;
    r.cause = "Platte voll: \xC3\xA4 und ein loses \xFF Byte";

    std::string json = FormatAccessLine(r, LogFormat::Json);
    ASSERT_EQ(json.find('\n'), json.size() - 1);
    for (char c : json) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F) || (c & 0x80)) << int(c);
    }
    EXPECT_EQ(ReadBackWithPython(temp, json),
              r.target + "\n" + "Platte voll: \xC3\xA4 und ein loses \xC3\xBF Byte\n" +
                  "time='2025-12-08T08:40:12.345Z'\nclient='203.0.113.7'\nmethod='GET'\n"
                  "status=500\nbytes=12\nms=3.2\n");
    // A request that was never answered has no status, a stream no byte count.
    r.status = 0;
    r.bytes.reset();
    std::string open = FormatAccessLine(r, LogFormat::Json);
    EXPECT_NE(open.find("\"status\":null,\"bytes\":null"), std::string::npos) << open;

    r.status = 200;
    r.bytes = 7;
    r.cause.clear();
    std::string text = FormatAccessLine(r, LogFormat::Text);
    EXPECT_EQ(text, "2025-12-08T08:40:12.345Z eins service 203.0.113.7 \"GET "
                    "/setname.php?filename=a.jpg&newfilename=\\\"Gr\\xfc\\xdfe\\\" \\\\ "
                    "\\x01\\x1b[31m\\x0d\\x0aFAKE 200\\x7f\\xe4\\x80\\x00!\" 200 7 3.2ms\n");
}

// A service over a back end in memory, logging to a file.
class AccessLogTest : public ::testing::Test {
protected:
    void Start(bool proxyProtocol = false) {
        auto storage = std::make_unique<FakeStorage>();
        fake_ = storage.get();
        store_ = std::make_unique<PictureStore>(std::move(storage));
        ServiceConfig config;
        config.servicePort = 0;
        config.uploadPort = 0;
        config.instance = "eins";
        config.proxyProtocol = proxyProtocol;
        std::string error;
        config.accessLog = AccessLog::OpenFile(temp_.Path("access.log"), LogFormat::Text, error);
        ASSERT_TRUE(config.accessLog) << error;
        server_ = std::make_unique<Server>(*store_, config);
        ASSERT_TRUE(server_->Start(error)) << error;
    }
    // The log line whose text contains needle, waiting a moment for it (a line is written
    // when its request has ended, which may be just after the client got its reply).
    std::string LineWith(const std::string& needle) {
        for (int i = 0; i < 200; ++i) {
            std::ifstream in(temp_.Path("access.log"), std::ios::binary);
            std::string line;
            while (std::getline(in, line)) {
                if (line.find(needle) != std::string::npos) {
                    return line;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "no log line with " << needle;
        return {};
    }

    glimmerly::testing::TempDir temp_{"glimmerly-log"};
    FakeStorage* fake_ = nullptr;
    std::unique_ptr<PictureStore> store_;
    std::unique_ptr<Server> server_;
    std::string jpeg_ = test::MakeJpeg(16, 16, 3);
};

TEST_F(AccessLogTest, EveryRequestGetsALineWithItsFields) {
    Start();
    HttpResponse upload = test::Upload(server_->UploadPort(), jpeg_);
    ASSERT_EQ(upload.status, 200);
    std::string line = LineWith(" upload ");
    EXPECT_NE(line.find(" eins upload 127.0.0.1 \"POST /upload.php\" 200 " +
                        std::to_string(upload.body.size()) + " "),
              std::string::npos)
        << line;
    EXPECT_TRUE(line.ends_with("ms")) << line;
    EXPECT_EQ(line.size() > 24 ? line.substr(10, 1) + line.substr(23, 2) : "", "TZ ") << line;

    test::ClientGet(server_->ServicePort(), "/Sommer \xE4.jpg");
    EXPECT_NE(LineWith("Sommer").find(" eins service 127.0.0.1 \"GET /Sommer \\xe4.jpg\" 404 "),
              std::string::npos);
}

TEST_F(AccessLogTest, BehindABalancerTheClientIsTheOneItNames) {
    Start(true);
    int fd = test::Connect(server_->ServicePort());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(test::SendAll(fd, "PROXY TCP4 203.0.113.7 10.0.0.11 51234 8460\r\n"
                                  "GET /health HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(test::ReadReply(fd), "ok");
    ::close(fd);
    EXPECT_NE(LineWith("/health").find(" service 203.0.113.7 \"GET /health\" 200 2 "),
              std::string::npos);
}

TEST_F(AccessLogTest, FailuresAreLoggedWithTheirCause) {
    Start();
    fake_->beforeInsert = [](const NewPicture&, FakeStorage::State&) {
        throw std::runtime_error("disk full while inserting");
    };
    EXPECT_EQ(test::Upload(server_->UploadPort(), jpeg_).status, 500);
    EXPECT_NE(LineWith("POST").find("\" 500 "), std::string::npos);
    EXPECT_TRUE(LineWith("POST").ends_with("ms cause=\"disk full while inserting\""))
        << LineWith("POST");

    fake_->beforeInsert = [](const NewPicture&, FakeStorage::State&) {
        throw StoreUnavailable("connection refused");
    };
    test::UploadFields named;
    named.screenshotName = "zweiter";
    EXPECT_EQ(test::Upload(server_->UploadPort(), jpeg_, named).status, 503);
    EXPECT_NE(LineWith("\" 503 ").find("cause=\"connection refused\""), std::string::npos);

    fake_->health = "database: gone";
    HttpResponse health = test::ClientGet(server_->ServicePort(), "/health");
    EXPECT_EQ(health.status, 503);
    EXPECT_NE(LineWith("/health").find("\" 503 "), std::string::npos);
    EXPECT_TRUE(LineWith("/health").ends_with("cause=\"database: gone\""));
}

// The program's options choose the file, the format and the instance's name.
TEST(AccessLogOptions, JsonLinesGoToTheFileNamed) {
    glimmerly::testing::TempDir temp("glimmerly-log");
    std::string log = temp.Path("access.json");
    std::uint16_t port = 0;
    {
        test::ServiceProcess service(temp.Root() / "data", {"--access-log", log, "--log-format",
                                                            "json", "--instance", "zwei"});
        ASSERT_TRUE(service.ok());
        port = service.servicePort();
        EXPECT_EQ(test::ClientGet(port, "/health").body, "ok");
    } // stopped: every line is written
    std::ifstream in(log);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_TRUE(line.starts_with("{\"time\":\"")) << line;
    EXPECT_NE(line.find("\"instance\":\"zwei\",\"host\":\"service\",\"client\":\"127.0.0.1\","
                        "\"method\":\"GET\",\"target\":\"/health\",\"status\":200,\"bytes\":2,"),
              std::string::npos)
        << line;
}

} // namespace
} // namespace glimmerly::service
