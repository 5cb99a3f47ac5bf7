#include "upload_reports.h"

#include "app/message_box.h"
#include "app/upload_completion.h"
#include "app/window_thread.h"
#include "app/window_views.h"
#include "upload/server_protocol.h"

namespace glimmerly {

UploadReports::UploadReports(WindowThread& windowThread, JobWindowView& window,
                             UploadCompletion& completion)
    : windowThread_(windowThread), window_(window), completion_(completion) {}

void UploadReports::OnWindowThread(const std::function<void()>& routine) {
    if (!windowThread_.Run(routine))
        throw JobStopped();
}

void UploadReports::ShowStatus(const std::string& text) {
    window_.ShowStatus(text); // queued by the window itself: the job goes on while it paints
}

void UploadReports::ShowNewVersion(const std::string& version) {
    if (version == protocol::kProgramVersion)
        return;
    OnWindowThread([this, version] { window_.ShowNewVersion(version); });
}

void UploadReports::CompleteUpload(const std::string& address, const std::string& status) {
    OnWindowThread([this, address, status] { completion_.CompleteUpload(address, status); });
}

void UploadReports::ShowUploadError(const std::string& text) {
    OnWindowThread([text] { ShowMessageBox(text); });
}

std::optional<std::string> UploadReports::AskSaveFileName() {
    std::optional<std::string> chosen;
    OnWindowThread([this, &chosen] { chosen = window_.AskSaveFileName(); });
    return chosen;
}

void UploadReports::FinishJob() {
    OnWindowThread([this] { completion_.FinishJob(); });
}

void UploadReports::FailJob(const std::string& status) {
    OnWindowThread([this, status] { completion_.FailJob(status); });
}

} // namespace glimmerly
