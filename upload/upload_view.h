#pragma once
// What the upload job needs of the main window. The job calls these from its own thread; the
// window carries each call to its own thread and waits, so they arrive in order and paint at once.
// A call made after the window has begun to close throws JobStopped, which ends the job.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace glimmerly {

struct JobStopped : std::runtime_error {
    JobStopped() : std::runtime_error("Der Vorgang wurde abgebrochen.") {}
};

class UploadView {
public:
    virtual ~UploadView() = default;

    virtual void ShowStatus(const std::string& text) = 0;
    // Shows the new-version notice when `version` differs from the program's own.
    virtual void ShowNewVersion(const std::string& version) = 0;
    // The upload succeeded at `address`. All of its ending happens in this one call, so that
    // nothing the user does can fall between its parts: the address becomes ScreenshotUrl and
    // is shown, or the rename waiting in NewScreenshotName runs now; then the status `status`
    // (or, when that rename failed, what failed), UploadDone, and the job's normal end.
    virtual void CompleteUpload(const std::string& address, const std::string& status) = 0;
    // The server's error text in a message box.
    virtual void ShowUploadError(const std::string& text) = 0;
    // The save dialog; the chosen path, or nullopt when the user cancels.
    virtual std::optional<std::string> AskSaveFileName() = 0;
    // The job's normal end without a picture on the server: NewScreenshotName cleared, captures
    // re-armed, options unlocked.
    virtual void FinishJob() = 0;
    // The job ended through a failure: the same re-arming, and `status` on the status line.
    virtual void FailJob(const std::string& status) = 0;
};

// The status line's text for a step that failed: "<step> fehlgeschlagen: <message>", on one line.
std::string FailureStatus(std::string_view stepUtf8, const std::string& message);

} // namespace glimmerly
