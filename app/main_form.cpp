#include "main_form.h"

#include "app/message_box.h"
#include "app/new_session_form.h"
#include "app/shared_state.h"
#include "editor/design_font.h"
#include "editor/image_editor_form.h"
#include "net/http_client.h"
#include "platform/platform.h"
#include "text/cp1252.h"
#include "text/qt_cp1252.h"
#include "upload/server_protocol.h"
#include "upload/upload_job.h"

#include "ui_main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QShowEvent>
#include <QTimer>

namespace glimmerly {

QString MainForm::Caption() {
    return QStringLiteral("Glimmerly ") +
           QString::fromLatin1(protocol::kProgramVersion.data(),
                               static_cast<qsizetype>(protocol::kProgramVersion.size()));
}

MainForm::MainForm(SharedState& state, platform::Platform& platform, net::HttpClient& http,
                   ServiceHosts hosts, QWidget* parent)
    : QWidget(parent), state_(state), platform_(platform), http_(http), hosts_(std::move(hosts)),
      ui_(std::make_unique<Ui::MainForm>()), windowThread_(this) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    move(411, 239); // the form's designed place (uic sets only the size of a top-level form)
    setFont(DesignFont(11));
    ui_->Label2->setFont(DesignFont(19));
    ui_->Label3->setFont(DesignFont(11, true));
    ui_->Label5->setFont(DesignFont(11, true));
    // Texts from the server are shown word for word: no label may take one for markup.
    for (QLabel* label : findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    ui_->Label5->setText(cp1252::ToQString(protocol::HomePageUrl(hosts_.service)));
    ui_->Label5->installEventFilter(this);
    // Files dropped anywhere on the window are the window's, also over a text field.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->setAcceptDrops(false);
    platform_.fileDrops->SetHandler(
        [this](const std::vector<std::string>& paths) { Guarded([&] { WMDropFiles(paths); }); });

    http_.SetIdleTimeout(kIdleTimeoutMs);
    http_.OnWorkBegin = [this](int mode, std::int64_t max) { IdHTTP1WorkBegin(mode, max); };
    http_.OnWork = [this](int mode, std::int64_t count) { IdHTTP1Work(mode, count); };
    http_.OnWorkEnd = [this](int mode) { IdHTTP1WorkEnd(mode); };

    connect(ui_->RenameButton, &QPushButton::clicked, this,
            [this] { Guarded([this] { RenameButtonClick(); }); });
    connect(ui_->SessionModeCheckBox, &QCheckBox::toggled, this,
            [this] { Guarded([this] { SessionModeCheckBoxClick(); }); });
    connect(ui_->SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(ui_->DontBringToFrontCheckbox, &QCheckBox::clicked, this,
            [this] { DontBringToFrontCheckboxClick(); });
    qApp->installEventFilter(this); // KeyPreview: the window sees every key first

    FormCreate();
}

MainForm::~MainForm() {
    FormDestroy();
    qApp->removeEventFilter(this);
    http_.OnWorkBegin = nullptr; // the client outlives the window
    http_.OnWork = nullptr;
    http_.OnWorkEnd = nullptr;
}

void MainForm::SetDialogs(NewSessionForm* sessionForm, ImageEditorForm* editor) {
    sessionForm_ = sessionForm;
    commands_->intake.SetEditor(editor);
}

void MainForm::FormCreate() {
    platform_.hotKeys->SetHandler([this](int id) { Guarded([this, id] { WMHotKey(id); }); });
    if (!platform_.hotKeys->Register(kHotKeyPrint, platform::Key::Print, platform::NoModifier))
        missingHotKeys_.push_back(kHotKeyPrint);
    if (!platform_.hotKeys->Register(kHotKeyCtrlEnd, platform::Key::End, platform::Control))
        missingHotKeys_.push_back(kHotKeyCtrlEnd);
    platform_.notices->SetHandler([this](const std::string& text) {
        notices_.push_back(text);
        if (notices_.size() == 1 && isVisible())
            QTimer::singleShot(0, this, [this] { ShowNextNotice(); });
    });
}

void MainForm::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    // A running job must neither wait for this window nor outlive it.
    windowThread_.Shutdown();
    http_.Cancel();
    if (state_.UploadThread) {
        state_.UploadThread->RequestStop();
        state_.UploadThread->Join();
    }
    http_.Disconnect();
    platform_.hotKeys->Unregister(kHotKeyPrint);
    platform_.hotKeys->Unregister(kHotKeyCtrlEnd);
    platform_.hotKeys->SetHandler({});
    platform_.notices->SetHandler({});
    platform_.fileDrops->SetHandler({});
}

void MainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return; // restored from the task bar: no reset
    closed_ = false;
    FormShow();
    if (!missingHotKeys_.empty())
        QTimer::singleShot(0, this, [this] { ReportMissingHotKeys(); });
    if (!notices_.empty())
        QTimer::singleShot(0, this, [this] { ShowNextNotice(); });
}

void MainForm::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
}

void MainForm::AcceptDroppedFiles(bool on) {
    // The window exists once it has been shown; every show arms it again.
    platform_.fileDrops->Accept(static_cast<std::uintptr_t>(internalWinId()), on);
}

void MainForm::FormClose() {
    AcceptDroppedFiles(false);
    // A closed window takes no more work. A Print or capture request can arrive in the same batch
    // of events as the close: its capture would show the window again, which cancels the quit,
    // and start a job that the exit then has to stop.
    // Waiting presses are refused in WMHotKey, not discarded here: on X11 discarding turns the
    // event loop inside the close.
    closed_ = true;
    state_.CaptureReady = false;
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            close();
            return true;
        }
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && renameIsDefault_ &&
            ui_->Notebook1->currentIndex() == 1 && ui_->RenameButton->isVisible() &&
            ui_->RenameButton->isEnabled() && !qobject_cast<QPushButton*>(watched)) {
            ui_->RenameButton->click();
            return true;
        }
    }
    if (watched == ui_->Label5 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label5Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainForm::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowErrorBox(e.what());
    }
}

void MainForm::OnWindowThread(const std::function<void()>& routine) {
    if (!windowThread_.Run(routine))
        throw JobStopped();
}

// ---- Reset, hot keys, capture ----------------------------------------------------------------

void MainForm::FormShow() {
    setWindowTitle(Caption());
    state_.CaptureReady = true;
    state_.NewScreenshotName.clear();
    workCountMax_ = 0;
    ui_->Notebook1->setCurrentIndex(0);
    renameIsDefault_ = false;
    ui_->Label1->setText(QString());
    // A progress bar paints itself at once when its value changes, and with it the whole window
    // as the reset left it; that paint would come before the capture's grab. Here it waits for
    // the next paint like every other change of the reset.
    ui_->ProgressBar1->setUpdatesEnabled(false);
    ui_->ProgressBar1->setValue(0);
    ui_->ProgressBar1->setUpdatesEnabled(true);
    ui_->ProgressBar1->setVisible(true);
    ui_->RenameEdit->setText(QString());
    ui_->DisplayURLEdit->setText(QString());
    SetRenameControlsVisible(true);
    AcceptDroppedFiles(true);
}

bool MainForm::TakesHotKeys() const {
    // After the close a job that ends re-arms the gate; the window stays closed all the same. A
    // dialog of the program that is open has its answer first.
    return !closed_ && commands_ && state_.CaptureReady &&
           QApplication::activeModalWidget() == nullptr;
}

void MainForm::WMHotKey(int id) {
    if (id != kHotKeyPrint && id != kHotKeyCtrlEnd && id != kHotKeyOther)
        return;
    if (!TakesHotKeys())
        return; // dropped, not queued
    FormShow();
    state_.CaptureReady = false;
    try {
        Capture();
    } catch (...) {
        if (closed_)
            return; // closed while the screen was grabbed: nobody is there to be told
        // No job runs after a failed capture: back to the start, and say what happened.
        FormShow();
        commands_->gate.ReArm();
        ShowStatus(cp1252::FromUtf8("Bildschirmfoto fehlgeschlagen."));
        throw;
    }
}

// ---- Session mode --------------------------------------------------------------------------

void MainForm::SessionModeCheckBoxClick() {
    commands_->session.CheckBoxChanged(ui_->SessionModeCheckBox->isChecked());
}

// ---- Advanced panel and link ---------------------------------------------------------------

void MainForm::SpeedButton1Click() {
    QWidget* panel = ui_->Panel1;
    panel->resize(panel->width(), panel->property("Tag").toInt());
    const bool pressed = ui_->SpeedButton1->isChecked();
    panel->setVisible(pressed);
    const int step = panel->height() + 8;
    const int delta = pressed ? step : -step;
    ui_->Panel2->move(ui_->Panel2->x(), ui_->Panel2->y() + delta);
    // The session address lies over the footer's right part; it moves with the footer so that
    // the opened panel's options are never covered by it.
    ui_->SessionUrlPanel->move(ui_->SessionUrlPanel->x(), ui_->SessionUrlPanel->y() + delta);
    setFixedHeight(height() + delta);
}

void MainForm::Label5Click() {
    platform_.shell->Open(cp1252::FromQString(ui_->Label5->text()));
}

} // namespace glimmerly
