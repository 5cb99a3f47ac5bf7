// The capture intake without the window: what reaches the editor, and what the job uploads after
// it, driven through a stand-in view, a scripted desktop and a loopback upload host.

#include "app/capture_intake.h"
#include "app/shared_state.h"
#include "codecs/jpeg_decoder.h"
#include "editor/picture_editor.h"
#include "net/http_client.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_server.h"
#include "text/cp1252.h"
#include "upload/upload_view.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace glimmerly {
namespace {

using testing::LoopbackServer;

class StandInView : public CaptureView {
public:
    void ShowStatus(const std::string& text) override { calls.push_back("status " + text); }
    void LockOptions(bool locked) override { calls.push_back(locked ? "lock" : "unlock"); }
    CaptureOptions Options() override { return options; }
    std::string ProposeName(const std::string& name) override {
        calls.push_back("name " + name);
        return name;
    }
    void BringToFront() override { calls.push_back("front"); }
    void ShowNamePage() override { calls.push_back("name page"); }

    CaptureOptions options;
    std::vector<std::string> calls;
};

// Paints the whole picture red, as a pen stroke would, and keeps `clip` of it.
class PaintingEditor : public PictureEditor {
public:
    EditorResult Edit(Picture picture, bool wholePicture,
                      const std::vector<platform::Monitor>& monitors) override {
        receivedSize = {picture.width, picture.height};
        receivedWhole = wholePicture;
        receivedMonitors = monitors;
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x) {
                std::uint8_t* bgr = picture.At(x, y);
                bgr[0] = bgr[1] = 0;
                bgr[2] = 255;
            }
        }
        return {std::move(picture), clip};
    }
    std::pair<int, int> receivedSize;
    bool receivedWhole = false;
    std::vector<platform::Monitor> receivedMonitors;
    Rect clip{10, 20, 410, 320};
};

// The job's ends, waited for from the test's thread.
class JobEnd : public UploadView {
public:
    void ShowStatus(const std::string&) override {}
    void ShowNewVersion(const std::string&) override {}
    void CompleteUpload(const std::string& address, const std::string&) override { End(address); }
    void ShowUploadError(const std::string& text) override { End("error " + text); }
    std::optional<std::string> AskSaveFileName() override { return std::nullopt; }
    void FinishJob() override { End("finished"); }
    void FailJob(const std::string& status) override { End("failed " + status); }

    void Reset() {
        std::lock_guard lock(mutex_);
        end_.clear();
    }
    std::string Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [this] { return !end_.empty(); });
        return end_;
    }

private:
    void End(const std::string& how) {
        std::lock_guard lock(mutex_);
        if (end_.empty())
            end_ = how;
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string end_;
};

class CaptureIntakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        desktop.windows().foreground =
            platform::WindowInfo{cp1252::FromUtf8("Unbenannt - Editor"), Rect{100, 50, 900, 650}};
        intake.SetEditor(&editor);
    }
    // The JPEG of the upload's file part, decoded.
    Picture UploadedPicture() {
        const std::string body = server.Requests().at(0).body;
        const std::size_t start = body.find("\r\n\r\n", body.find("name=\"screenshot\"")) + 4;
        const std::size_t end = body.find("\r\n--", start);
        return DecodeJpeg(reinterpret_cast<const std::uint8_t*>(body.data() + start), end - start);
    }

    LoopbackServer server{[](const testing::RecordedRequest&) {
        return LoopbackServer::Ok("ok|3.2|http://h/a.jpg");
    }};
    testing::FakePlatform desktop;
    std::unique_ptr<platform::Platform> platform = desktop.MakePlatform();
    SharedState state;
    net::HttpClient http;
    ServiceHosts hosts{server.Host(), server.Host()};
    StandInView view;
    PaintingEditor editor;
    JobEnd job;
    CaptureIntake intake{state, *platform, http, hosts, view, job};
};

TEST_F(CaptureIntakeTest, TheEditedClipOfTheActiveWindowIsUploaded) {
    view.options = {true, true, false};
    intake.Capture();
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{"lock", "name editor", "front",
                                        "status Screenshot wird bearbeitet...", "name page"}));
    // The editor had the window's area, to be edited as a whole.
    EXPECT_EQ(editor.receivedSize, std::make_pair(800, 600));
    EXPECT_TRUE(editor.receivedWhole);
    ASSERT_EQ(job.Wait(), "http://h/a.jpg");
    const Picture uploaded = UploadedPicture();
    EXPECT_EQ(uploaded.width, 400);
    EXPECT_EQ(uploaded.height, 300);
    EXPECT_GT(uploaded.At(200, 150)[2], 240); // the editing survived
    EXPECT_LT(uploaded.At(200, 150)[1], 20);
    EXPECT_EQ(state.ProposedName, "editor");
}

TEST_F(CaptureIntakeTest, TheWholeDesktopGoesToTheMonitorOverview) {
    view.options = {false, true, false};
    intake.Capture();
    EXPECT_EQ(editor.receivedSize, std::make_pair(1920, 1080));
    EXPECT_FALSE(editor.receivedWhole);
    ASSERT_EQ(job.Wait(), "http://h/a.jpg");
}

TEST_F(CaptureIntakeTest, SavingLocallyStaysOnTheFirstPageUnlessAskedOtherwise) {
    view.options = {false, false, true};
    intake.TakePicture(testing::FakeScreen::Pattern(64, 48), {});
    EXPECT_EQ(job.Wait(), "finished"); // the save dialog was cancelled
    EXPECT_EQ(view.calls, std::vector<std::string>{});
    EXPECT_TRUE(server.Requests().empty());

    // A dropped file shows its name page also when it is only saved.
    job.Reset();
    intake.TakePicture(testing::FakeScreen::Pattern(64, 48), {true, true, {}});
    EXPECT_EQ(job.Wait(), "finished");
    EXPECT_EQ(view.calls, std::vector<std::string>{"name page"});
}

} // namespace
} // namespace glimmerly
