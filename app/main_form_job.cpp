// The main window as the upload job sees it: each call is carried to the window thread.

#include "app/main_form.h"

#include "app/message_box.h"
#include "platform/platform.h"
#include "text/cp1252.h"
#include "text/qt_cp1252.h"
#include "upload/server_protocol.h"

#include "ui_main_form.h"

namespace glimmerly {

void MainForm::ShowNewVersion(const std::string& version) {
    if (version == protocol::kProgramVersion)
        return;
    OnWindowThread([this, version] {
        ui_->Label4->setText(
            cp1252::ToQString(cp1252::FromUtf8("Neue Version verfügbar: ") + version));
        ui_->Label5->setText(cp1252::ToQString(protocol::DownloadPageUrl(hosts_.service)));
        ui_->Label5->setStyleSheet(QStringLiteral("color: #ff0000;"));
    });
}

void MainForm::CompleteUpload(const std::string& address, const std::string& status) {
    OnWindowThread(
        [this, address, status] { commands_->completion.CompleteUpload(address, status); });
}

void MainForm::ShowUploadError(const std::string& text) {
    OnWindowThread([text] { ShowMessageBox(text); });
}

std::optional<std::string> MainForm::AskSaveFileName() {
    std::optional<std::string> chosen;
    OnWindowThread([this, &chosen] {
        // The system's dialog, owned by this window.
        chosen = platform_.dialogs->AskJpegSaveFileName(static_cast<std::uintptr_t>(winId()));
    });
    return chosen;
}

void MainForm::FinishJob() {
    OnWindowThread([this] { commands_->completion.FinishJob(); });
}

void MainForm::FailJob(const std::string& status) {
    OnWindowThread([this, status] { commands_->completion.FailJob(status); });
}

} // namespace glimmerly
