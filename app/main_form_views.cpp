// The main window as its commands see it: the narrow views of RenameCommand, SessionLogin,
// CaptureIntake and DropIntake.

#include "app/main_form.h"

#include "app/new_session_form.h"
#include "platform/platform.h"
#include "text/cp1252.h"
#include "text/qt_cp1252.h"
#include "upload/server_protocol.h"

#include "ui_main_form.h"
#include "ui_new_session_form.h"

namespace glimmerly {

std::string MainForm::RenameText() {
    return cp1252::FromQString(ui_->RenameEdit->text());
}

std::string MainForm::AddressText() {
    return cp1252::FromQString(ui_->DisplayURLEdit->text());
}

void MainForm::ShowAddress(const std::string& address, bool select) {
    ui_->DisplayURLEdit->setText(cp1252::ToQString(address));
    if (select) {
        ui_->DisplayURLEdit->setFocus();
        ui_->DisplayURLEdit->selectAll();
    }
}

void MainForm::SetRenameControlsVisible(bool visible) {
    ui_->RenameLabel->setVisible(visible);
    ui_->RenameEdit->setVisible(visible);
    ui_->RenameButton->setVisible(visible);
}

void MainForm::FocusRename() {
    ui_->RenameEdit->setFocus();
}

std::optional<std::string> MainForm::AskSessionName() {
    if (!sessionForm_ || sessionForm_->exec() != NewSessionForm::kResultOk)
        return std::nullopt;
    return cp1252::FromQString(sessionForm_->Controls().SessionNameEdit->text());
}

void MainForm::SetSessionNameText(const std::string& name) {
    if (sessionForm_)
        sessionForm_->Controls().SessionNameEdit->setText(cp1252::ToQString(name));
}

void MainForm::UncheckSessionMode() {
    ui_->SessionModeCheckBox->setChecked(false);
}

void MainForm::AppendToCaption(const std::string& suffix) {
    setWindowTitle(windowTitle() + cp1252::ToQString(suffix));
}

void MainForm::ResetCaption() {
    setWindowTitle(Caption());
}

bool MainForm::OpenBrowserTicked() {
    return ui_->OpenBrowserCheckbox->isChecked();
}

void MainForm::DisableOpenBrowser() {
    ui_->OpenBrowserCheckbox->setEnabled(false);
}

void MainForm::ShowSessionAddress(const std::string& address) {
    ui_->SessionUrlEdit->setText(cp1252::ToQString(address));
    ui_->SessionUrlPanel->setVisible(true);
    ui_->SessionUrlEdit->setFocus();
    ui_->SessionUrlEdit->selectAll();
}

void MainForm::HideSessionAddress() {
    ui_->SessionUrlPanel->setVisible(false);
}

void MainForm::BringToFront() {
    // Showing a closed window again would keep the program running; the capture ends here.
    if (closed_)
        throw JobStopped();
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    platform_.windows->BringToFront(static_cast<std::uintptr_t>(winId()));
}

CaptureOptions MainForm::Options() {
    return {ui_->ActiveWindowCheckBox->isChecked(), ui_->EditCheckBox->isChecked(),
            ui_->SaveLocalCheckBox->isChecked()};
}

std::string MainForm::ProposeName(const std::string& name) {
    ui_->RenameEdit->setText(cp1252::ToQString(name));
    return cp1252::FromQString(ui_->RenameEdit->text()); // as the field holds it
}

void MainForm::ShowNamePage() {
    ui_->Notebook1->setCurrentIndex(1);
    ui_->ProgressBar1->setVisible(true);
    ui_->RenameEdit->setFocus();
    renameIsDefault_ = true;
}

void MainForm::TickActiveWindow(bool ticked) {
    ui_->ActiveWindowCheckBox->setChecked(ticked);
}

} // namespace glimmerly
