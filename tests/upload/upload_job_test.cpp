#include "codecs/jpeg_encoder.h"
#include "net/http_client.h"
#include "tests/support/cp1252_literal.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_server.h"
#include "upload/upload_job.h"
#include "upload/upload_view.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <sstream>

namespace glimmerly {
namespace {

using namespace testing::literals;
using testing::LoopbackServer;
using testing::RecordedRequest;

// Records what the job shows, in order.
class RecordingView : public UploadView {
public:
    void ShowStatus(const std::string& text) override { Log("status " + text); }
    void ShowNewVersion(const std::string& version) override { Log("version " + version); }
    void CompleteUpload(const std::string& address, const std::string& status) override {
        Log("address " + address);
        Log("status " + status);
        Log("done");
    }
    void ShowUploadError(const std::string& text) override { Log("message " + text); }
    std::optional<std::string> AskSaveFileName() override {
        Log("save dialog");
        return saveAs;
    }
    void FinishJob() override { Log("finish"); }
    void FailJob(const std::string& status) override { Log("fail " + status); }

    std::vector<std::string> statuses() const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.rfind("status ", 0) == 0)
                out.push_back(e.substr(7));
        return out;
    }

    std::vector<std::string> events;
    std::optional<std::string> saveAs;

private:
    void Log(std::string e) { events.push_back(std::move(e)); }
};

Picture Flat(int width, int height) {
    Picture p(width, height);
    for (std::size_t i = 0; i < p.pixels.size(); ++i)
        p.pixels[i] = static_cast<std::uint8_t>(i % 3 == 2 ? 200 : 40);
    return p;
}

// Rows of pseudo-random grey levels: each quality step changes the size of its encoding.
Picture Noisy(int width, int height) {
    Picture p(width, height);
    std::uint32_t x = 12345;
    for (auto& byte : p.pixels) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    return p;
}

std::vector<std::uint8_t> Encoded(const Picture& picture, int quality) {
    JpegEncoder encoder;
    encoder.SetPicture(picture);
    encoder.SetQuality(quality);
    encoder.Encode();
    return encoder.Data();
}

// The file part of a recorded upload body.
std::string SentFile(const std::string& body) {
    const std::string head = "Content-Transfer-Encoding: binary\r\n\r\n";
    const auto start = body.find(head);
    const auto end = body.rfind("\r\n--");
    if (start == std::string::npos || end == std::string::npos || end < start)
        return {};
    return body.substr(start + head.size(), end - start - head.size());
}

std::string AsText(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class UploadJobTest : public ::testing::Test {
protected:
    UploadJobInput Input(int width = 64, int height = 48) {
        UploadJobInput in;
        in.picture = Flat(width, height);
        in.screenshotFile = files.TempDir() + "screen.jpg";
        in.uploadUrl =
            "http://" + (stub ? stub->Host() : std::string("127.0.0.1:1")) + "/upload.php";
        return in;
    }
    // A job whose first round a capture has begun already.
    UploadJobInput EncodedAhead(const Picture& picture) {
        UploadJobInput in = Input();
        in.picture = Picture();
        in.firstEncoding = std::make_unique<FirstEncoding>(picture);
        return in;
    }
    void Serve(std::string reply) {
        stub = std::make_unique<LoopbackServer>(
            [reply](const RecordedRequest&) { return LoopbackServer::Ok(reply); });
    }
    void RunJob(UploadJobInput in) {
        TUploadThread job(std::move(in), http, files, view);
        job.Run();
        EXPECT_TRUE(job.Finished());
    }

    testing::FakeFiles files;
    net::HttpClient http;
    RecordingView view;
    std::unique_ptr<LoopbackServer> stub;
};

TEST(StartingQuality, FollowsTheWidthTable) {
    const std::pair<int, int> cases[] = {{3840, 60}, {1920, 60}, {1701, 60}, {1700, 60},
                                         {1699, 70}, {1600, 70}, {1500, 70}, {1499, 80},
                                         {1024, 80}, {1000, 80}, {999, 88},  {800, 88},
                                         {500, 88},  {499, 100}, {400, 100}, {1, 100}};
    for (const auto& [width, quality] : cases)
        EXPECT_EQ(StartingQuality(width), quality) << width;
}

TEST_F(UploadJobTest, SizeLoopLowersByFourDownToFour) {
    Serve("ok|3.2|http://h/a.jpg");
    UploadJobInput in = Input(1920, 8);
    in.sizeLimit = 0; // no encoding fits
    const Picture picture = in.picture;
    RunJob(std::move(in));
    const auto s = view.statuses();
    std::vector<std::string> expected{"Screenshot wird komprimiert..."_cp1252};
    for (int q = 56; q >= 4; q -= 4)
        expected.push_back("Screenshot wird komprimiert... (Qualität herabgesetzt auf: "_cp1252 +
                           std::to_string(q) + "%)");
    expected.push_back("Screenshot wird zum Server übertragen..."_cp1252);
    ASSERT_GE(s.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(s.begin(), s.begin() + expected.size()), expected);
    // The last round is sent anyway.
    ASSERT_TRUE(stub->WaitForRequests(1));
    EXPECT_EQ(SentFile(stub->Requests()[0].body), AsText(Encoded(picture, 4)));
}

TEST_F(UploadJobTest, SizeLoopFromSeventyEndsAtTwo) {
    Serve("ok|3.2|http://h/a.jpg");
    UploadJobInput in = Input(1600, 8);
    in.sizeLimit = 0;
    const Picture picture = in.picture;
    RunJob(std::move(in));
    const auto s = view.statuses();
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s[s.size() - 3],
              "Screenshot wird komprimiert... (Qualität herabgesetzt auf: 2%)"_cp1252);
    EXPECT_EQ(SentFile(stub->Requests().at(0).body), AsText(Encoded(picture, 2)));
}

TEST_F(UploadJobTest, LimitIsInclusive) {
    Serve("ok|3.2|http://h/a.jpg");
    UploadJobInput in = Input(1920, 8);
    in.picture = Noisy(1920, 8);
    const std::vector<std::uint8_t> at60 = Encoded(in.picture, 60);
    const std::vector<std::uint8_t> at56 = Encoded(in.picture, 56);
    ASSERT_LT(at56.size(), at60.size());

    // Exactly the limit: sent after one round.
    UploadJobInput exact = Input(1920, 8);
    exact.picture = in.picture;
    exact.sizeLimit = at60.size();
    RunJob(std::move(exact));
    EXPECT_EQ(view.statuses(),
              (std::vector<std::string>{"Screenshot wird komprimiert..."_cp1252,
                                        "Screenshot wird zum Server übertragen..."_cp1252,
                                        "Screenshot wurde erfolgreich hochgeladen."_cp1252}));
    EXPECT_EQ(SentFile(stub->Requests().at(0).body), AsText(at60));

    // One byte over: one more round.
    view.events.clear();
    in.sizeLimit = at60.size() - 1;
    RunJob(std::move(in));
    const auto s = view.statuses();
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s[1], "Screenshot wird komprimiert... (Qualität herabgesetzt auf: 56%)"_cp1252);
    EXPECT_EQ(s[2], "Screenshot wird zum Server übertragen..."_cp1252);
    EXPECT_EQ(SentFile(stub->Requests().at(1).body), AsText(at56));
}

// A capture may start the first round before the job: the job then shows the same texts and
// sends the same bytes, and its size loop goes on from that round's quality.
TEST_F(UploadJobTest, FirstEncodingStartedAheadIsTheFirstRound) {
    Serve("ok|3.2|http://h/a.jpg");
    const Picture picture = Noisy(1600, 8); // starts at 70
    const std::vector<std::uint8_t> at70 = Encoded(picture, 70);
    const std::vector<std::uint8_t> at66 = Encoded(picture, 66);
    ASSERT_LT(at66.size(), at70.size());

    UploadJobInput fits = EncodedAhead(picture);
    fits.sizeLimit = at70.size();
    RunJob(std::move(fits));
    EXPECT_EQ(view.statuses(),
              (std::vector<std::string>{"Screenshot wird komprimiert..."_cp1252,
                                        "Screenshot wird zum Server übertragen..."_cp1252,
                                        "Screenshot wurde erfolgreich hochgeladen."_cp1252}));
    EXPECT_EQ(SentFile(stub->Requests().at(0).body), AsText(at70));

    view.events.clear();
    UploadJobInput tooBig = EncodedAhead(picture);
    tooBig.sizeLimit = at70.size() - 1;
    RunJob(std::move(tooBig));
    const auto s = view.statuses();
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s[0], "Screenshot wird komprimiert..."_cp1252);
    EXPECT_EQ(s[1], "Screenshot wird komprimiert... (Qualität herabgesetzt auf: 66%)"_cp1252);
    EXPECT_EQ(s[2], "Screenshot wird zum Server übertragen..."_cp1252);
    EXPECT_EQ(SentFile(stub->Requests().at(1).body), AsText(at66));

    // Saving locally (a capture does not start one then) still gets the picture at 95.
    view.events.clear();
    const std::string target = files.folder() + "ahead.jpg";
    view.saveAs = target;
    UploadJobInput local = EncodedAhead(picture);
    local.saveLocal = true;
    RunJob(std::move(local));
    EXPECT_EQ(ReadFile(target), AsText(Encoded(picture, 95)));
}

TEST_F(UploadJobTest, FailedFirstEncodingFailsTheCompression) {
    Serve("ok|3.2|http://h/a.jpg");
    Picture broken(64, 48);
    broken.pixels.resize(10); // the encoder refuses a buffer without its rows
    UploadJobInput in = Input();
    in.picture = Picture();
    in.firstEncoding = std::make_unique<FirstEncoding>(std::move(broken));
    RunJob(std::move(in));
    ASSERT_FALSE(view.events.empty());
    EXPECT_EQ(view.events.back().rfind("fail Komprimieren fehlgeschlagen: ", 0), 0u)
        << view.events.back();
    EXPECT_TRUE(stub->Requests().empty());
}

TEST_F(UploadJobTest, OkReplyPublishesAddressAndCleansUp) {
    Serve("ok|3.2|http://localhost:8460/abc.jpg");
    UploadJobInput in = Input();
    const std::string file = in.screenshotFile;
    RunJob(std::move(in));
    EXPECT_EQ(view.events,
              (std::vector<std::string>{
                  "status " + "Screenshot wird komprimiert..."_cp1252,
                  "status " + "Screenshot wird zum Server übertragen..."_cp1252, "version 3.2",
                  "address http://localhost:8460/abc.jpg",
                  "status " + "Screenshot wurde erfolgreich hochgeladen."_cp1252, "done"}));
    EXPECT_FALSE(files.Exists(file)); // the temporary JPEG is deleted after the upload
    ASSERT_EQ(stub->Requests().size(), 1u);
    const RecordedRequest r = stub->Requests()[0];
    EXPECT_EQ(r.RequestLine(), "POST /upload.php HTTP/1.0");
    EXPECT_NE(r.body.find("name=\"filename\"\r\n\r\nscreenshot\r\n"), std::string::npos);
    EXPECT_NE(r.body.find("name=\"version\"\r\n\r\n3.2\r\n"), std::string::npos);
    EXPECT_EQ(r.body.find("screenshotname"), std::string::npos);
    EXPECT_EQ(r.body.find("sessionname"), std::string::npos);
    EXPECT_NE(r.body.find("filename=\"" + file + "\"\r\nContent-Type: image/jpeg\r\n"),
              std::string::npos);
    EXPECT_NE(r.body.find("\xFF\xD8\xFF"), std::string::npos);
}

TEST_F(UploadJobTest, RememberedNameAndSessionTravelWithTheUpload) {
    Serve("ok|3.2|http://h/plan.jpg");
    UploadJobInput in = Input();
    in.proposedName = "editor";
    in.rememberedProposal = "editor";
    in.rememberedName = "plan";
    in.sessionName = "demo";
    RunJob(std::move(in));
    const std::string body = stub->Requests().at(0).body;
    const auto named = body.find("name=\"screenshotname\"\r\n\r\nplan\r\n");
    const auto session = body.find("name=\"sessionname\"\r\n\r\ndemo\r\n");
    ASSERT_NE(named, std::string::npos);
    ASSERT_NE(session, std::string::npos);
    EXPECT_LT(body.find("name=\"version\""), named);
    EXPECT_LT(named, session);
    EXPECT_LT(session, body.find("name=\"screenshot\";"));
}

TEST_F(UploadJobTest, NewVersionIsReported) {
    Serve("ok|3.3|http://h/a.jpg");
    RunJob(Input());
    EXPECT_NE(std::find(view.events.begin(), view.events.end(), "version 3.3"), view.events.end());
}

TEST_F(UploadJobTest, RefusalsShowStatusOnly) {
    Serve("toobig");
    RunJob(Input());
    EXPECT_EQ(view.events.back(), "finish");
    EXPECT_EQ(view.statuses().back(), "Bild war zu groß."_cp1252);
    EXPECT_EQ(std::find(view.events.begin(), view.events.end(), "done"), view.events.end());

    view.events.clear();
    Serve("wrongsession");
    RunJob(Input());
    EXPECT_EQ(view.statuses().back(),
              "Die Session ist bereits ausgelaufen. Bitte legen Sie eine neue Session an!"_cp1252);
    EXPECT_EQ(view.events.back(), "finish");
}

TEST_F(UploadJobTest, AnyOtherReplyIsShownWordForWord) {
    Serve("Fehler 42");
    RunJob(Input());
    EXPECT_NE(
        std::find(view.events.begin(), view.events.end(),
                  "message " + "Beim Hochladen ist folgender Fehler aufgetreten: Fehler 42"_cp1252),
        view.events.end());
    view.events.clear();
    Serve("");
    RunJob(Input());
    EXPECT_NE(std::find(view.events.begin(), view.events.end(),
                        "message " + "Beim Hochladen ist folgender Fehler aufgetreten: "_cp1252),
              view.events.end());
    EXPECT_EQ(view.events.back(), "finish");
}

TEST_F(UploadJobTest, FailedConnectionReArmsAndSaysWhy) {
    UploadJobInput in = Input();
    in.uploadUrl = "http://127.0.0.1:1/upload.php"; // nobody listens there
    const std::string file = in.screenshotFile;
    RunJob(std::move(in));
    ASSERT_FALSE(view.events.empty());
    EXPECT_EQ(view.events.back(),
              "fail Hochladen fehlgeschlagen: Socket Error # 10061 Connection refused.");
    // The body let go of the file: the next job can replace it.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "x";
    EXPECT_EQ(files.FileSizeOf(file), 1u);
}

TEST_F(UploadJobTest, ErrorStatusFailsTheJob) {
    stub = std::make_unique<LoopbackServer>([](const RecordedRequest&) {
        return std::string("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n"
                           "Connection: close\r\n\r\noops");
    });
    RunJob(Input());
    EXPECT_EQ(view.events.back(),
              "fail Hochladen fehlgeschlagen: HTTP/1.1 500 Internal Server Error");
}

TEST_F(UploadJobTest, LocalSaveReplacesTheChosenFile) {
    const std::string target = files.folder() + "mine.jpg";
    std::ofstream(target) << "old";
    view.saveAs = target;
    UploadJobInput in = Input(2000, 10); // width does not matter when saving locally
    in.saveLocal = true;
    in.sizeLimit = 0; // and no size loop runs
    const std::string temp = in.screenshotFile;
    const Picture picture = in.picture;
    RunJob(std::move(in));
    EXPECT_EQ(
        view.events,
        (std::vector<std::string>{
            "save dialog", "status " + "Screenshot wurde gespeichert (nicht hochgeladen)."_cp1252,
            "finish"}));
    EXPECT_EQ(ReadFile(target), AsText(Encoded(picture, 95)));
    EXPECT_FALSE(files.Exists(temp));
}

TEST_F(UploadJobTest, CancelledSaveKeepsTheTemporaryFile) {
    UploadJobInput in = Input();
    in.saveLocal = true;
    const std::string temp = in.screenshotFile;
    RunJob(std::move(in));
    EXPECT_EQ(view.events, (std::vector<std::string>{"save dialog", "status ", "finish"}));
    EXPECT_TRUE(files.Exists(temp));
}

TEST_F(UploadJobTest, FailedMoveSaysSo) {
    files.failMove = true;
    view.saveAs = files.folder() + "x.jpg";
    UploadJobInput in = Input();
    in.saveLocal = true;
    RunJob(std::move(in));
    EXPECT_EQ(view.statuses().back(), "Fehler beim Speichern!");
    EXPECT_EQ(view.events.back(), "finish");
}

TEST_F(UploadJobTest, FileErrorFailsTheCompression) {
    UploadJobInput in = Input();
    in.screenshotFile = files.folder() + "missing-dir/screen.jpg";
    RunJob(std::move(in));
    ASSERT_FALSE(view.events.empty());
    EXPECT_EQ(view.events.back().rfind("fail Komprimieren fehlgeschlagen: ", 0), 0u)
        << view.events.back();
}

TEST_F(UploadJobTest, StoppedJobShowsNothing) {
    Serve("ok|3.2|http://h/a.jpg");
    TUploadThread job(Input(1920, 8), http, files, view);
    job.RequestStop();
    job.Run();
    EXPECT_TRUE(view.statuses().size() <= 1u);
    for (const auto& e : view.events)
        EXPECT_EQ(e.rfind("fail", 0), std::string::npos) << e;
    EXPECT_TRUE(stub->Requests().empty());
}

} // namespace
} // namespace glimmerly
