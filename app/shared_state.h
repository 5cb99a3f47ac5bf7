#pragma once
// The program-wide state that the main window and its commands share. Texts are Windows-1252.
// The window thread writes every field; the job gets what it needs as a copy when it starts and
// its reports are carried to the window thread, so only the two flags are read across threads.
// No picture is kept here: the capture or drop hands it on as an argument, the editor hands the
// edited one back (its unedited copy and the clip stay with the editor), and the job owns it from
// its start.

#include "upload/upload_job.h"

#include <atomic>
#include <memory>
#include <string>

namespace glimmerly {

struct SharedState {
    std::string ScreenshotUrl;
    std::string NewScreenshotName;
    std::string SessionName;
    std::string ProposedName;
    std::string RememberedProposal;
    std::string RememberedName;
    std::atomic<bool> CaptureReady{false};
    std::atomic<bool> UploadDone{false};
    std::unique_ptr<TUploadThread> UploadThread;
};

} // namespace glimmerly
