#include "capture_intake.h"

#include "app/capture_gate.h"
#include "app/capture_geometry.h"
#include "app/shared_state.h"
#include "editor/editor_geometry.h"
#include "editor/picture_editor.h"
#include "platform/platform.h"
#include "text/cp1252.h"
#include "text/screenshot_name.h"
#include "upload/server_protocol.h"
#include "upload/upload_job.h"

#include <utility>

namespace glimmerly {

CaptureIntake::CaptureIntake(SharedState& state, platform::Platform& platform,
                             net::HttpClient& http, ServiceHosts hosts, CaptureGate& gate,
                             CaptureView& view, UploadView& jobView)
    : state_(state), platform_(platform), http_(http), hosts_(std::move(hosts)), gate_(gate),
      view_(view), jobView_(jobView) {}

Picture CaptureIntake::Screenshot(const std::vector<platform::Monitor>& monitors, int& bandLeft) {
    const Rect band = DesktopBand(monitors, platform::PrimaryMonitorHeight(monitors));
    bandLeft = band.Left;
    return platform_.screen->Grab(band);
}

void CaptureIntake::Capture() {
    view_.LockOptions(true);
    // The desktop is read once per capture: the band, its height and the editor's overview all
    // show the monitors as they are now, also one plugged in since the last capture.
    const std::vector<platform::Monitor> monitors = platform_.screen->Monitors();
    int bandLeft = 0;
    Picture screenshotBitmap = Screenshot(monitors, bandLeft);

    // The options are locked: what they say now holds for the whole capture. A picture that goes
    // up as it was grabbed is encoded from now on, while the window finishes the capture.
    const CaptureOptions options = view_.Options();
    std::unique_ptr<FirstEncoding> firstEncoding;
    if (!options.activeWindowOnly && !options.editAfterwards && !options.saveLocally)
        firstEncoding = std::make_unique<FirstEncoding>(std::move(screenshotBitmap));

    // The name comes from the window the user was working in, also for the whole desktop.
    const std::optional<platform::WindowInfo> foreground = platform_.windows->Foreground();
    state_.ProposedName =
        view_.ProposeName(MakeScreenshotName(foreground ? foreground->title : std::string()));

    view_.BringToFront();
    view_.ShowStatus(cp1252::FromUtf8("Screenshot wird bearbeitet..."));

    if (options.activeWindowOnly && foreground) {
        const auto area = WindowArea(foreground->outer, bandLeft, screenshotBitmap.width,
                                     screenshotBitmap.height);
        if (area)
            screenshotBitmap = CopyArea(screenshotBitmap, *area);
    }
    EditAndUpload(std::move(screenshotBitmap), Handling{options.activeWindowOnly, false, monitors},
                  options, std::move(firstEncoding));
}

void CaptureIntake::TakePicture(Picture screenshotBitmap, Handling handling) {
    EditAndUpload(std::move(screenshotBitmap), std::move(handling), view_.Options(), nullptr);
}

void CaptureIntake::EditAndUpload(Picture screenshotBitmap, Handling handling,
                                  const CaptureOptions& options,
                                  std::unique_ptr<FirstEncoding> firstEncoding) {
    if (options.editAfterwards && editor_) {
        // The editor keeps its own copies and hands the edited picture back.
        const EditorResult edited =
            editor_->Edit(std::move(screenshotBitmap), handling.wholePicture, handling.monitors);
        // The marked rectangle may be inverted or reach beyond the picture: only captured
        // pixels go up, and with nothing marked nothing does.
        const Rect clip = HandOffRect(edited.clip, edited.picture.width, edited.picture.height);
        if (IsEmptyRect(clip)) {
            gate_.ReArm();
            view_.ShowStatus(cp1252::FromUtf8(
                "Kein Bildausschnitt gew\xC3\xA4hlt \xE2\x80\x93 es wurde nichts hochgeladen."));
            return;
        }
        screenshotBitmap = CopyArea(edited.picture, clip);
    }

    state_.UploadDone = false;
    if (!options.saveLocally || handling.namePageWhenSaving)
        view_.ShowNamePage();
    StartUploadJob(std::move(screenshotBitmap), std::move(firstEncoding), options.saveLocally);
}

void CaptureIntake::StartUploadJob(Picture screenshotBitmap,
                                   std::unique_ptr<FirstEncoding> firstEncoding, bool saveLocally) {
    UploadJobInput input;
    input.screenshotFile = platform_.files->TempDir() + "screen.jpg";
    // From here on the job owns the picture.
    input.picture = std::move(screenshotBitmap);
    input.firstEncoding = std::move(firstEncoding);
    input.saveLocal = saveLocally;
    input.uploadUrl = protocol::UploadUrl(hosts_.upload);
    input.proposedName = state_.ProposedName;
    input.rememberedProposal = state_.RememberedProposal;
    input.rememberedName = state_.RememberedName;
    input.sessionName = state_.SessionName;
    // The job before this one has ended (captures start only when it re-armed them); release it.
    if (state_.UploadThread)
        state_.UploadThread->Join();
    state_.UploadThread =
        std::make_unique<TUploadThread>(std::move(input), http_, *platform_.files, jobView_);
    state_.UploadThread->Start();
}

} // namespace glimmerly
