// The main window as the upload job's reports see it besides the status line: the new-version
// notice and the save dialog.

#include "app/main_form.h"

#include "text/cp1252.h"
#include "text/qt_cp1252.h"
#include "upload/server_protocol.h"

#include "ui_main_form.h"

#include <QFile>
#include <QFileDialog>

#ifdef _WIN32
#include "platform/win32/dialogs.h"
#endif

namespace glimmerly {

void MainForm::ShowNewVersion(const std::string& version) {
    ui_->Label4->setText(cp1252::ToQString(cp1252::FromUtf8("Neue Version verfügbar: ") + version));
    ui_->Label5->setText(cp1252::ToQString(protocol::DownloadPageUrl(hosts_.service)));
    ui_->Label5->setStyleSheet(QStringLiteral("color: #ff0000;"));
}

std::optional<std::string> MainForm::AskSaveFileName() {
    std::optional<std::string> chosen;
    OnWindowThread([this, &chosen] {
        std::optional<QString> path;
        if (saveDialog_) {
            path = saveDialog_();
        } else {
#ifdef _WIN32
            // The system's own dialog, owned by this window; its path is UTF-8 already.
            chosen = platform::win32::AskJpegSaveFileName(static_cast<std::uintptr_t>(winId()));
            return;
#else
            QFileDialog dialog(this);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile); // a new file name must be allowed
            dialog.setDefaultSuffix(QStringLiteral("jpg"));
            dialog.setNameFilter(QStringLiteral("JPEG-Dateien (*.jpg)"));
            dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
            dialog.setSizeGripEnabled(true);
            if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
                path = dialog.selectedFiles().constFirst();
#endif
        }
        if (path) {
#ifdef _WIN32
            chosen = path->toStdString(); // paths are UTF-8 inside the program on Windows
#else
            chosen = QFile::encodeName(*path).toStdString();
#endif
        }
    });
    return chosen;
}

} // namespace glimmerly
