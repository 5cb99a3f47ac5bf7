// The capture intake without the window: what reaches the editor, and what the job uploads after
// it, driven through a stand-in window, a scripted desktop and a loopback upload host.

#include "app/capture_geometry.h"
#include "app/capture_intake.h"
#include "codecs/jpeg_encoder.h"
#include "editor/picture_editor.h"
#include "tests/app/command_test.h"

namespace glimmerly {
namespace {

using testing::UploadedPicture;
using MonitorList = std::vector<platform::Monitor>;

// Paints the whole picture red, as a pen stroke would, and keeps `clip` of it.
class PaintingEditor : public PictureEditor {
public:
    EditorResult Edit(Picture picture, bool wholePicture, const MonitorList& monitors) override {
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
    MonitorList receivedMonitors;
    Rect clip{10, 20, 410, 320};
};

// A desktop whose monitors change with every look at them: read n has a monitor n × 100 pixels
// wide left of a primary one 600 + 10 × n pixels high.
class ShiftingScreen : public platform::Screen {
public:
    MonitorList Monitors() override {
        ++reads;
        return {{Rect{-100 * reads, 0, 0, 500}, false}, {Rect{0, 0, 800, 600 + 10 * reads}, true}};
    }
    Picture Grab(const Rect& band) override {
        grabs.push_back(band);
        return Picture(band.Width(), band.Height());
    }
    int reads = 0;
    std::vector<Rect> grabs;
};

class CaptureIntakeTest : public testing::CommandTest {
protected:
    void SetUp() override {
        desktop.windows().foreground =
            platform::WindowInfo{cp1252::FromUtf8("Unbenannt - Editor"), Rect{100, 50, 900, 650}};
        intake.SetEditor(&editor);
    }
    // A capture with the options given, up to the job's end.
    std::string CaptureAndWait(CaptureOptions options) {
        window.options = options;
        job.Reset();
        intake.Capture();
        return job.Wait();
    }

    PaintingEditor editor;
    testing::JobEnd job;
    CaptureIntake intake{state, *platform, http, hosts, gate, window, job};
};

TEST_F(CaptureIntakeTest, TheEditedClipOfTheActiveWindowIsUploaded) {
    ASSERT_EQ(CaptureAndWait({true, true, false}), "http://h/a.jpg");
    EXPECT_EQ(window.calls,
              (std::vector<std::string>{"lock", "name editor", "front",
                                        "status Screenshot wird bearbeitet...", "name page"}));
    // The editor had the window's area, to be edited as a whole.
    EXPECT_EQ(editor.receivedSize, std::make_pair(800, 600));
    EXPECT_TRUE(editor.receivedWhole);
    const Picture uploaded = UploadedPicture(server.Requests().at(0).body);
    EXPECT_EQ(uploaded.width, 400);
    EXPECT_EQ(uploaded.height, 300);
    EXPECT_GT(uploaded.At(200, 150)[2], 240); // the editing survived
    EXPECT_LT(uploaded.At(200, 150)[1], 20);
    EXPECT_EQ(state.ProposedName, "editor");
}

// The file part of an upload body, as bytes.
std::vector<std::uint8_t> SentJpeg(const std::string& body) {
    const std::size_t start = body.find("\r\n\r\n", body.find("name=\"screenshot\"")) + 4;
    const std::size_t end = body.find("\r\n--", start);
    return std::vector<std::uint8_t>(body.begin() + static_cast<std::ptrdiff_t>(start),
                                     body.begin() + static_cast<std::ptrdiff_t>(end));
}

// Without the editor the whole desktop goes up exactly as it was grabbed (its encoding begins
// while the capture still runs), and the window sees the same steps in the same order; the
// active window goes up as its own area.
TEST_F(CaptureIntakeTest, WithoutTheEditorThePictureGoesUpAsGrabbedOrCropped) {
    ASSERT_EQ(CaptureAndWait({false, false, false}), "http://h/a.jpg");
    EXPECT_EQ(window.calls,
              (std::vector<std::string>{"lock", "name editor", "front",
                                        "status Screenshot wird bearbeitet...", "name page"}));
    JpegEncoder encoder;
    encoder.SetPicture(platform->screen->Grab(Rect{0, 0, 1920, 1080}));
    encoder.SetQuality(60);
    encoder.Encode();
    EXPECT_EQ(SentJpeg(server.Requests().at(0).body), encoder.Data());

    window.calls.clear();
    ASSERT_EQ(CaptureAndWait({true, false, false}), "http://h/a.jpg");
    EXPECT_EQ(window.calls,
              (std::vector<std::string>{"lock", "name editor", "front",
                                        "status Screenshot wird bearbeitet...", "name page"}));
    const Picture cropped = UploadedPicture(server.Requests().at(1).body);
    EXPECT_EQ(cropped.width, 800);
    EXPECT_EQ(cropped.height, 600);
}

TEST_F(CaptureIntakeTest, EachCaptureShowsTheEditorTheMonitorsOfItsOwnPicture) {
    const MonitorList one{{Rect{0, 0, 1920, 1080}, true}};
    desktop.screen().SetMonitors(one);
    ASSERT_EQ(CaptureAndWait({false, true, false}), "http://h/a.jpg");
    EXPECT_EQ(editor.receivedSize, std::make_pair(1920, 1080));
    EXPECT_FALSE(editor.receivedWhole); // the monitor overview
    EXPECT_EQ(editor.receivedMonitors.size(), 1u);

    // A monitor plugged in since: the band grows, and the overview shows it.
    const MonitorList two{{Rect{0, 0, 1920, 1080}, true}, {Rect{1920, 0, 3200, 1024}, false}};
    desktop.screen().SetMonitors(two);
    ASSERT_EQ(CaptureAndWait({false, true, false}), "http://h/a.jpg");
    EXPECT_EQ(desktop.screen().grabs.back(), (Rect{0, 0, 3200, 1080}));
    EXPECT_EQ(editor.receivedSize, std::make_pair(3200, 1080));
    ASSERT_EQ(editor.receivedMonitors.size(), 2u);
    EXPECT_EQ(editor.receivedMonitors[1].rect, (Rect{1920, 0, 3200, 1024}));
}

TEST_F(CaptureIntakeTest, TheBandAndTheOverviewComeFromOneLookAtTheDesktop) {
    auto* screen = new ShiftingScreen;
    platform->screen.reset(screen);
    for (int capture = 1; capture <= 2; ++capture) {
        ASSERT_EQ(CaptureAndWait({false, true, false}), "http://h/a.jpg");
        EXPECT_EQ(screen->reads, capture);
        const MonitorList& seen = editor.receivedMonitors;
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].rect.Left, -100 * capture);
        EXPECT_EQ(screen->grabs.back(), DesktopBand(seen, platform::PrimaryMonitorHeight(seen)));
    }
}

TEST_F(CaptureIntakeTest, TheUploadCarriesTheStickyNameAndTheSession) {
    // The last rename was of a capture of this window: its name goes up again.
    state.RememberedProposal = "editor";
    state.RememberedName = "plan";
    state.SessionName = "demo";
    ASSERT_EQ(CaptureAndWait({true, false, false}), "http://h/a.jpg");
    const std::string first = server.Requests().at(0).body;
    EXPECT_NE(first.find("name=\"screenshotname\"\r\n\r\nplan\r\n"), std::string::npos);
    EXPECT_NE(first.find("name=\"sessionname\"\r\n\r\ndemo\r\n"), std::string::npos);

    // Another window proposes another name; outside a session no session goes up.
    desktop.windows().foreground->title = "Posteingang - Mail";
    state.SessionName.clear();
    ASSERT_EQ(CaptureAndWait({true, false, false}), "http://h/a.jpg");
    const std::string second = server.Requests().at(1).body;
    EXPECT_EQ(second.find("screenshotname"), std::string::npos);
    EXPECT_EQ(second.find("sessionname"), std::string::npos);
}

TEST_F(CaptureIntakeTest, SavingLocallyStaysOnTheFirstPageUnlessAskedOtherwise) {
    window.options = {false, false, true};
    intake.TakePicture(testing::FakeScreen::Pattern(64, 48), {});
    EXPECT_EQ(job.Wait(), "finished"); // the save dialog was cancelled
    EXPECT_EQ(window.calls, std::vector<std::string>{});
    EXPECT_TRUE(server.Requests().empty());

    // A dropped file shows its name page also when it is only saved.
    job.Reset();
    intake.TakePicture(testing::FakeScreen::Pattern(64, 48), {true, true, {}});
    EXPECT_EQ(job.Wait(), "finished");
    EXPECT_EQ(window.calls, std::vector<std::string>{"name page"});
}

} // namespace
} // namespace glimmerly
