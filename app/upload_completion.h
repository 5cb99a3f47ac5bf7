#pragma once
// How an upload job's end reaches the window, on the window thread: the picture's address, the
// rename that waited for it, the status line, and the way back to ready.

#include "app/window_views.h"

#include <string>

namespace glimmerly {

struct SharedState;
class CaptureGate;
class RenameCommand;

class UploadCompletion {
public:
    UploadCompletion(SharedState& state, RenameCommand& rename, CaptureGate& gate,
                     RenameView& view);

    // The upload succeeded at `address`: it becomes ScreenshotUrl and is shown, or the name typed
    // meanwhile is sent now (when that fails, the address is shown all the same and the rename
    // controls come back for another try, with what failed on the status line instead of
    // `status`). Then `status`, UploadDone, and ready again.
    void CompleteUpload(const std::string& address, const std::string& status);
    // The job ended without a picture on the server: nothing to rename, ready again.
    void FinishJob();
    // The job failed: `status` says what; nothing to rename, ready again.
    void FailJob(const std::string& status);

private:
    SharedState& state_;
    RenameCommand& rename_;
    CaptureGate& gate_;
    RenameView& view_;
};

} // namespace glimmerly
