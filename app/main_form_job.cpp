// The main window as the upload job's reports see it besides the status line: the new-version
// notice and the save dialog.

#include "app/main_form.h"

#include "platform/platform.h"
#include "text/cp1252.h"
#include "text/qt_cp1252.h"
#include "upload/server_protocol.h"

#include "ui_main_form.h"

namespace glimmerly {

void MainForm::ShowNewVersion(const std::string& version) {
    ui_->Label4->setText(cp1252::ToQString(cp1252::FromUtf8("Neue Version verfügbar: ") + version));
    ui_->Label5->setText(cp1252::ToQString(protocol::DownloadPageUrl(hosts_.service)));
    ui_->Label5->setStyleSheet(QStringLiteral("color: #ff0000;"));
}

std::optional<std::string> MainForm::AskSaveFileName() {
    // The system's dialog, owned by this window (the reports call this on the window thread).
    return platform_.dialogs->AskJpegSaveFileName(static_cast<std::uintptr_t>(winId()));
}

} // namespace glimmerly
