// The hand-off from the capture to the editor and back: the edited picture cut to the marked
// rectangle is what the job compresses; when the user marked nothing of the picture, nothing is
// uploaded, the status line says so and captures are allowed again.

#include "app/capture_gate.h"
#include "app/capture_intake.h"
#include "app/shared_state.h"
#include "codecs/jpeg_decoder.h"
#include "editor/image_editor_form.h"
#include "editor/picture_editor.h"
#include "net/http_client.h"
#include "tests/support/fake_platform.h"
#include "tests/support/temp_dir.h"
#include "text/cp1252.h"
#include "upload/upload_view.h"

#include <QComboBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

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
    std::optional<std::string> AskSaveFileName() override { return saveAs; }
    void FinishJob() override { finished = true; }
    void FailJob(const std::string& status) override { failed = status; }
    std::optional<std::string> saveAs;
    bool finished = false;
    std::string failed;
};

// Options of the main window: the whole desktop, edited, saved to disk.
class SavingView : public RecordingView {
public:
    CaptureOptions Options() override { return {false, true, true}; }
};

class MarkingEditor : public PictureEditor {
public:
    EditorResult Edit(Picture picture, bool, const std::vector<platform::Monitor>&) override {
        return {std::move(picture), clip};
    }
    Rect clip;
};

// One capture on the fake desktop, with a job that cannot reach any host.
struct Capture {
    // Runs the capture through `editor`, with the options `view` gives.
    void Run(CaptureView& view, PictureEditor& editor) {
        platform = desktop.MakePlatform();
        CaptureGate gate(state, *platform->hotKeys, [&view] { view.LockOptions(false); });
        CaptureIntake intake(state, *platform, http, hosts, gate, view, job);
        intake.SetEditor(&editor);
        intake.Capture();
    }

    testing::FakePlatform desktop;
    std::unique_ptr<platform::Platform> platform;
    net::HttpClient http;
    ServiceHosts hosts{"127.0.0.1:9", "127.0.0.1:9"};
    NoJob job;
    SharedState state; // last: a job it holds goes first
};

TEST(HandOffTest, NothingOfThePictureMarkedUploadsNothingAndReArms) {
    // Right of the picture, a zero-wide rectangle, above the picture.
    for (const Rect clip :
         {Rect{2000, 0, 2500, 500}, Rect{300, 100, 300, 400}, Rect{0, -1080, 1920, 0}}) {
        Capture capture;
        SharedState& state = capture.state;
        RecordingView view;
        MarkingEditor editor;
        editor.clip = clip;
        state.CaptureReady = false;

        capture.Run(view, editor);
        EXPECT_EQ(state.UploadThread, nullptr);
        EXPECT_TRUE(state.CaptureReady);
        ASSERT_GE(view.calls.size(), 2u);
        EXPECT_EQ(view.calls[view.calls.size() - 2], "unlock");
        EXPECT_EQ(view.calls.back(),
                  "status " + cp1252::FromUtf8("Kein Bildausschnitt gew\xC3\xA4hlt \xE2\x80\x93 "
                                               "es wurde nichts hochgeladen."));
    }
}

// The real editor on a desktop of two monitors (1920 x 1080, and 1280 x 1024 right of it): the
// second monitor is picked in the strip, a rectangle marked inside it with the clip tool and a
// stroke drawn across it; "Bearbeitung beenden" hands the picture back and the job saves the
// marked rectangle of the edited picture, stroke included, as a JPEG.
TEST(HandOffTest, TheMarkedRectangleOfTheEditedPictureIsWhatTheJobCompresses) {
    Capture capture;
    testing::FakePlatform& desktop = capture.desktop;
    desktop.screen().SetMonitors({{Rect{0, 0, 1920, 1080}, true}, {Rect{1920, 0, 3200, 1024}}});
    desktop.screen().SetDesktop(testing::FakeScreen::Pattern(3200, 1080));
    desktop.windows().foreground = platform::WindowInfo{"Unbenannt - Editor", {300, 200, 940, 600}};
    SavingView view;
    NoJob& job = capture.job;
    testing::TempDir folder;
    job.saveAs = folder.Path("saved.jpg");
    ImageEditorForm editor;

    QTimer::singleShot(0, &editor, [&editor] {
        auto click = [&editor](const char* name, QPoint at) {
            QTest::mouseClick(editor.findChild<QWidget*>(QLatin1String(name)), Qt::LeftButton, {},
                              at);
        };
        auto press = [&editor](QPoint at) {
            editor.Image1MouseDown(Qt::LeftButton, at);
            editor.Image1MouseUp(at);
        };
        click("DesktopPanel", {75, 20}); // the second cell
        press({2000, 50});               // the clip tool is active at every opening
        press({2400, 350});
        click("CmdPaint", {5, 5});
        editor.Image1MouseDown(Qt::LeftButton, {2100, 200});
        editor.Image1MouseMove({2300, 200});
        editor.Image1MouseUp({2300, 200});
        click("Panel2", {5, 5});
    });
    capture.Run(view, editor);
    SharedState& state = capture.state;
    ASSERT_NE(state.UploadThread, nullptr);
    state.UploadThread->Join();
    ASSERT_TRUE(job.finished) << job.failed;
    // The name comes from the window the user was working in, also for the whole desktop.
    EXPECT_EQ(state.ProposedName, "editor");

    const Picture saved = DecodeJpegFile(*job.saveAs);
    ASSERT_EQ(saved.width, 400);
    ASSERT_EQ(saved.height, 300);
    // Away from the pattern's wrap-arounds: the capture at desktop (2000 + x, 50 + y).
    auto expectCapture = [&](int x, int y) {
        const Picture expected = testing::FakeScreen::Pattern(2001 + x, 51 + y);
        const std::uint8_t* want = expected.At(2000 + x, 50 + y);
        const std::uint8_t* got = saved.At(x, y);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(int(got[c]), int(want[c]), 10) << x << "," << y << " byte " << c;
    };
    for (QPoint p : {QPoint(3, 3), QPoint(20, 20), QPoint(396, 20), QPoint(20, 140),
                     QPoint(150, 250), QPoint(396, 296), QPoint(3, 296)})
        expectCapture(p.x(), p.y());
    // The stroke, from (100, 150) to (300, 150) of the saved picture.
    for (int x : {110, 200, 290}) {
        const std::uint8_t* p = saved.At(x, 150);
        EXPECT_GT(int(p[2]), 200) << x;
        EXPECT_LT(int(p[1]), 60) << x;
    }
}

} // namespace
} // namespace glimmerly
