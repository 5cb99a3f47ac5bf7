// The main window's status line, option lock and progress bar, which the upload job reaches from
// its own thread, and the desktop's notices in the status line.

#include "app/main_form.h"

#include "app/shared_state.h"
#include "text/cp1252.h"
#include "text/qt_cp1252.h"

#include "ui_main_form.h"

#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <limits>

namespace glimmerly {

bool MainForm::SurfaceGone() const {
    // Painting a widget that still counts as shown after the window system took its window away
    // (a close on its way) crashes in the Wayland backend.
    const QWindow* window = windowHandle();
    return isVisible() && (window == nullptr || window->handle() == nullptr);
}

void MainForm::ShowStatus(const std::string& text) {
    // From the job's thread the text is queued, not waited for: it keeps its place among the
    // job's calls, and the job goes on while the window paints it.
    // Painted at once only while the window thread itself is busy; a queued text is painted by
    // the event loop like any other change. A forced paint from a queued call can meet the
    // window between its close and the loss of its surface (a crash in the Wayland backend).
    const bool busy = QThread::currentThread() == thread();
    const bool queued = windowThread_.Post([this, text, busy] {
        if (SurfaceGone())
            return;
        ui_->Label1->setText(cp1252::ToQString(text));
        if (busy && !closed_)
            ui_->Label1->repaint();
    });
    if (!queued)
        throw JobStopped();
}

void MainForm::LockOptions(bool locked) {
    OnWindowThread([this, locked] {
        ui_->EditCheckBox->setEnabled(!locked);
        ui_->ActiveWindowCheckBox->setEnabled(!locked);
        ui_->SaveLocalCheckBox->setEnabled(!locked);
        ui_->SessionModeCheckBox->setEnabled(!locked);
        ui_->LoginSessionButton->setEnabled(!locked);
        if (!state_.SessionName.empty())
            ui_->LoginSessionButton->setEnabled(false);
        DontBringToFrontCheckboxClick();
    });
}

void MainForm::IdHTTP1WorkBegin(int workMode, std::int64_t workCountMax) {
    if (workMode != 1)
        return;
    // The client calls these from inside its transfer loops (and on their way out after a
    // failure): once the window closes they quietly do nothing instead of throwing. They are
    // queued, so that the body goes out without waiting for the window to paint.
    windowThread_.Post([this, workCountMax] {
        workCountMax_ = static_cast<std::int32_t>(
            std::min<std::int64_t>(workCountMax, std::numeric_limits<std::int32_t>::max()));
    });
}

void MainForm::IdHTTP1Work(int workMode, std::int64_t workCount) {
    if (workMode != 1)
        return;
    const bool busy = QThread::currentThread() == thread();
    windowThread_.Post([this, workCount, busy] {
        if (SurfaceGone())
            return; // the progress bar paints itself as its value changes
        if (workCountMax_ <= 0)
            return; // no scale announced: nothing sensible to show
        // Extended precision, rounded to nearest with halves to even (the default mode).
        const long double percent = static_cast<long double>(workCount) / workCountMax_ * 100.0L;
        ui_->ProgressBar1->setValue(static_cast<int>(std::nearbyint(percent)));
        if (busy && !closed_)
            ui_->ProgressBar1->repaint();
    });
}

void MainForm::IdHTTP1WorkEnd(int workMode) {
    if (workMode != 1)
        return;
    try {
        ShowStatus(cp1252::FromUtf8("Warte auf Antwort vom Server..."));
    } catch (const JobStopped&) {
    }
}

void MainForm::ShowNextNotice() {
    if (notices_.empty())
        return;
    const QString text = cp1252::ToQString(notices_.front());
    notices_.pop_front();
    ui_->Label1->setText(text);
    if (!notices_.empty()) {
        QTimer::singleShot(5000, this, [this, text] {
            if (ui_->Label1->text() == text)
                ShowNextNotice();
            else
                notices_.clear();
        });
    }
}

void MainForm::ReportMissingHotKeys() {
    // A key that another program holds never arrives; say so instead of failing silently.
    const bool print = std::find(missingHotKeys_.begin(), missingHotKeys_.end(), kHotKeyPrint) !=
                       missingHotKeys_.end();
    const bool end = std::find(missingHotKeys_.begin(), missingHotKeys_.end(), kHotKeyCtrlEnd) !=
                     missingHotKeys_.end();
    if (print && end)
        ShowStatus(cp1252::FromUtf8("Druck und Strg+Ende sind von einem anderen Programm belegt!"));
    else if (print)
        ShowStatus(cp1252::FromUtf8("Die Druck-Taste ist belegt – bitte Strg+Ende verwenden."));
    else
        ShowStatus(cp1252::FromUtf8("Strg+Ende ist belegt – bitte die Druck-Taste verwenden."));
}

} // namespace glimmerly
