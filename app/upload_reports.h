#pragma once
// The upload job's reports as the window thread takes them: each call from the job's thread is
// carried to the window thread and waited for, so that the calls arrive in order and paint at
// once; the job's end goes to the upload completion there. Once the window has begun to close, a
// call throws JobStopped, which ends the job.

#include "upload/upload_view.h"

#include <functional>
#include <optional>
#include <string>

namespace glimmerly {

class JobWindowView;
class UploadCompletion;
class WindowThread;

class UploadReports : public UploadView {
public:
    UploadReports(WindowThread& windowThread, JobWindowView& window, UploadCompletion& completion);

    void ShowStatus(const std::string& text) override;
    void ShowNewVersion(const std::string& version) override;
    void CompleteUpload(const std::string& address, const std::string& status) override;
    void ShowUploadError(const std::string& text) override;
    std::optional<std::string> AskSaveFileName() override;
    void FinishJob() override;
    void FailJob(const std::string& status) override;

private:
    // Runs `routine` on the window thread and waits; throws JobStopped once the window closes.
    void OnWindowThread(const std::function<void()>& routine);

    WindowThread& windowThread_;
    JobWindowView& window_;
    UploadCompletion& completion_;
};

} // namespace glimmerly
