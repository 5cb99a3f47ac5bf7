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
                             net::HttpClient& http, const ServiceHosts& hosts, CaptureView& view,
                             UploadView& jobView)
    : state_(state), platform_(platform), http_(http), hosts_(hosts), view_(view),
      jobView_(jobView) {}

Picture CaptureIntake::Screenshot(int& bandLeft) {
    const Rect band = DesktopBand(platform_.screen->Monitors(), platform_.screen->PrimaryHeight());
    bandLeft = band.Left;
    return platform_.screen->Grab(band);
}

void CaptureIntake::Capture() {
    view_.LockOptions(true);
    state_.ScreenshotBitmap = Picture();
    int bandLeft = 0;
    state_.ScreenshotBitmap = Screenshot(bandLeft);

    // The name comes from the window the user was working in, also for the whole desktop.
    const std::optional<platform::WindowInfo> foreground = platform_.windows->Foreground();
    state_.ProposedName =
        view_.ProposeName(MakeScreenshotName(foreground ? foreground->title : std::string()));

    view_.BringToFront();
    view_.ShowStatus(cp1252::FromUtf8("Screenshot wird bearbeitet..."));

    const CaptureOptions options = view_.Options();
    Picture& picture = state_.ScreenshotBitmap;
    if (options.activeWindowOnly && foreground) {
        const auto area = WindowArea(foreground->outer, bandLeft, picture.width, picture.height);
        if (area)
            picture = CopyArea(picture, *area);
    }
    TakePicture(Handling{options.activeWindowOnly, false, platform_.screen->Monitors()});
}

void CaptureIntake::TakePicture(Handling handling) {
    const CaptureOptions options = view_.Options();
    if (options.editAfterwards && editor_) {
        // The editor keeps its own copies; ScreenshotBitmap does not exist meanwhile.
        const EditorResult edited = editor_->Edit(std::exchange(state_.ScreenshotBitmap, Picture()),
                                                  handling.wholePicture, handling.monitors);
        // The marked rectangle may be inverted or reach beyond the picture: only captured
        // pixels go up, and with nothing marked nothing does.
        const Rect clip = HandOffRect(edited.clip, edited.picture.width, edited.picture.height);
        if (IsEmptyRect(clip)) {
            CaptureGate(state_, *platform_.hotKeys, [this] { view_.LockOptions(false); }).ReArm();
            view_.ShowStatus(cp1252::FromUtf8(
                "Kein Bildausschnitt gew\xC3\xA4hlt \xE2\x80\x93 es wurde nichts hochgeladen."));
            return;
        }
        state_.ScreenshotBitmap = CopyArea(edited.picture, clip);
    }

    state_.UploadDone = false;
    if (!options.saveLocally || handling.namePageWhenSaving)
        view_.ShowNamePage();
    state_.ScreenshotFile = platform_.files->TempDir() + "screen.jpg";
    StartUploadJob(options.saveLocally);
}

void CaptureIntake::StartUploadJob(bool saveLocally) {
    UploadJobInput input;
    // From here on the job owns the picture.
    input.picture = std::exchange(state_.ScreenshotBitmap, Picture());
    input.screenshotFile = state_.ScreenshotFile;
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
