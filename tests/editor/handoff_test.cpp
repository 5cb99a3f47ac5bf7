// The hand-off from the capture to the editor and back, when the user marked nothing of the
// picture: nothing is uploaded, the status line says so and captures are allowed again.

#include "app/capture_intake.h"
#include "app/shared_state.h"
#include "editor/picture_editor.h"
#include "net/http_client.h"
#include "tests/support/fake_platform.h"
#include "text/cp1252.h"
#include "upload/upload_view.h"

#include <gtest/gtest.h>

namespace glimmerly {
namespace {

class RecordingView : public CaptureView {
public:
    void ShowStatus(const std::string& text) override { calls.push_back("status " + text); }
    void LockOptions(bool locked) override { calls.push_back(locked ? "lock" : "unlock"); }
    CaptureOptions Options() override { return {false, true, false}; }
    std::string ProposeName(const std::string& name) override { return name; }
    void BringToFront() override {}
    void ShowNamePage() override { calls.push_back("name page"); }
    std::vector<std::string> calls;
};

class NoJob : public UploadView {
public:
    void ShowStatus(const std::string&) override {}
    void ShowNewVersion(const std::string&) override {}
    void CompleteUpload(const std::string&, const std::string&) override {}
    void ShowUploadError(const std::string&) override {}
    std::optional<std::string> AskSaveFileName() override { return std::nullopt; }
    void FinishJob() override {}
    void FailJob(const std::string&) override {}
};

class MarkingEditor : public PictureEditor {
public:
    EditorResult Edit(Picture picture, bool, const std::vector<platform::Monitor>&) override {
        return {std::move(picture), clip};
    }
    Rect clip;
};

TEST(HandOffTest, NothingOfThePictureMarkedUploadsNothingAndReArms) {
    // Right of the picture, a zero-wide rectangle, above the picture.
    for (const Rect clip :
         {Rect{2000, 0, 2500, 500}, Rect{300, 100, 300, 400}, Rect{0, -1080, 1920, 0}}) {
        testing::FakePlatform desktop;
        std::unique_ptr<platform::Platform> platform = desktop.MakePlatform();
        SharedState state;
        net::HttpClient http;
        ServiceHosts hosts{"127.0.0.1:9", "127.0.0.1:9"};
        RecordingView view;
        NoJob job;
        MarkingEditor editor;
        editor.clip = clip;
        CaptureIntake intake(state, *platform, http, hosts, view, job);
        intake.SetEditor(&editor);
        state.CaptureReady = false;

        intake.Capture();
        EXPECT_EQ(state.UploadThread, nullptr);
        EXPECT_TRUE(state.CaptureReady);
        ASSERT_GE(view.calls.size(), 2u);
        EXPECT_EQ(view.calls[view.calls.size() - 2], "unlock");
        EXPECT_EQ(view.calls.back(),
                  "status " + cp1252::FromUtf8("Kein Bildausschnitt gew\xC3\xA4hlt \xE2\x80\x93 "
                                               "es wurde nichts hochgeladen."));
    }
}

} // namespace
} // namespace glimmerly
