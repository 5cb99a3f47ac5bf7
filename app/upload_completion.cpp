#include "upload_completion.h"

#include "app/capture_gate.h"
#include "app/rename_command.h"
#include "app/shared_state.h"
#include "upload/upload_view.h"

#include <exception>

namespace glimmerly {

UploadCompletion::UploadCompletion(SharedState& state, RenameCommand& rename, CaptureGate& gate,
                                   RenameView& view)
    : state_(state), rename_(rename), gate_(gate), view_(view) {}

void UploadCompletion::CompleteUpload(const std::string& address, const std::string& status) {
    state_.ScreenshotUrl = address;
    std::string shown = status;
    if (state_.NewScreenshotName.empty()) {
        view_.ShowAddress(state_.ScreenshotUrl, false);
    } else {
        try {
            rename_.Send();
        } catch (const std::exception& e) {
            // The picture is on the server all the same: show its address and let the user try
            // the rename again from the button.
            view_.ShowAddress(state_.ScreenshotUrl, false);
            view_.SetRenameControlsVisible(true);
            shown = FailureStatus("Umbenennen", e.what());
        }
    }
    view_.ShowStatus(shown);
    state_.UploadDone = true;
    gate_.ReArm();
}

void UploadCompletion::FinishJob() {
    view_.SetRenameControlsVisible(false);
    gate_.ReArm();
}

void UploadCompletion::FailJob(const std::string& status) {
    view_.ShowStatus(status);
    FinishJob(); // a name typed during a failed upload is dropped
}

} // namespace glimmerly
