#pragma once
// The main window: status line, progress bar, options, the name-and-address page and the hot
// keys. It owns its controls and routes their events; the work behind its commands lives in
// RenameCommand, SessionLogin and CaptureIntake, which see the window through narrow views.

#include "app/capture_gate.h"
#include "app/capture_intake.h"
#include "app/drop_intake.h"
#include "app/rename_command.h"
#include "app/session_login.h"
#include "app/window_thread.h"
#include "app/window_views.h"
#include "imaging/picture.h"
#include "upload/upload_view.h"

#include <QWidget>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class MainForm;
}

namespace glimmerly {

struct SharedState;
class NewSessionForm;
class ImageEditorForm;
namespace net {
class HttpClient;
}
namespace platform {
struct Platform;
}

inline constexpr int kHotKeyPrint = 101;
inline constexpr int kHotKeyCtrlEnd = 102;
inline constexpr int kHotKeyOther = 103;
// A stalled server fails a request after this long without a byte moving.
inline constexpr int kIdleTimeoutMs = 60000;

class MainForm : public QWidget,
                 public UploadView,
                 public RenameView,
                 public SessionView,
                 public CaptureView {
    Q_OBJECT

public:
    MainForm(SharedState& state, platform::Platform& platform, QWidget* parent = nullptr);
    ~MainForm() override;

    void SetDialogs(NewSessionForm* sessionForm, ImageEditorForm* editor);

    Ui::MainForm& Controls() { return *ui_; }
    net::HttpClient& IdHTTP1() { return *http_; }

    // Safe from any thread.
    void ShowStatus(const std::string& text) override;
    void LockOptions(bool locked) override;
    void IdHTTP1WorkBegin(int workMode, std::int64_t workCountMax);
    void IdHTTP1Work(int workMode, std::int64_t workCount);
    void IdHTTP1WorkEnd(int workMode);

    // Window thread.
    void FormShow();
    void WMHotKey(int id);
    void Capture() { intake_.Capture(); }
    // The desktop band into a new picture; `bandLeft` receives the desktop column of its column 0.
    Picture Screenshot(int& bandLeft) { return intake_.Screenshot(bandLeft); }
    // The files of one drop, as full local paths.
    void WMDropFiles(const std::vector<std::string>& paths) {
        if (!closed_)
            drop_.WMDropFiles(paths);
    }
    void RenameButtonClick() { rename_.ButtonClick(); }
    void RenameScreenshot() { rename_.Send(); }
    void SessionModeCheckBoxClick();
    void SpeedButton1Click();
    void Label5Click();
    void DontBringToFrontCheckboxClick() {}
    // Ends everything that may outlive the window: the job, the connection, the hot keys.
    void FormDestroy();

    // The upload job's view of the window (any thread).
    void ShowNewVersion(const std::string& version) override;
    void CompleteUpload(const std::string& address, const std::string& status) override;
    void ShowUploadError(const std::string& text) override;
    std::optional<std::string> AskSaveFileName() override;
    void FinishJob() override;
    void FailJob(const std::string& status) override;

    // Replaces the save dialog (tests). Returns the chosen path, nullopt for cancel.
    using SaveDialog = std::function<std::optional<QString>()>;
    void SetSaveDialog(SaveDialog dialog) { saveDialog_ = std::move(dialog); }

    // Points the window at other hosts than the build's (tests with loopback servers).
    void SetHostsForTesting(std::string uploadHost, std::string serviceHost);

    // Hot keys that could not be registered at start (ids).
    const std::vector<int>& MissingHotKeys() const { return missingHotKeys_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The caption after every reset: the application title and the program's version.
    static QString Caption();
    void FormCreate();
    void FormClose();
    void ReportMissingHotKeys();
    // The desktop backend's notices, one after another in the status line, each for a few
    // seconds unless work takes the line over (the rest is dropped then).
    void ShowNextNotice();
    // Runs `routine` on the window thread and waits; throws JobStopped once the window closes.
    void OnWindowThread(const std::function<void()>& routine);
    // Shown, but without the window system's window behind it any more: nothing may paint.
    bool SurfaceGone() const;
    // Runs a handler and shows what it throws in the default error display.
    void Guarded(const std::function<void()>& handler);

    // RenameView
    std::string RenameText() override;
    std::string AddressText() override;
    void ShowAddress(const std::string& address, bool select) override;
    void SetRenameControlsVisible(bool visible) override;
    void FocusRename() override;
    // SessionView
    std::optional<std::string> AskSessionName() override;
    void SetSessionNameText(const std::string& name) override;
    void UncheckSessionMode() override;
    void AppendToCaption(const std::string& suffix) override;
    void ResetCaption() override;
    bool OpenBrowserTicked() override;
    void DisableOpenBrowser() override;
    void ShowSessionAddress(const std::string& address) override;
    void HideSessionAddress() override;
    void BringToFront() override;
    // CaptureView
    CaptureOptions Options() override;
    std::string ProposeName(const std::string& name) override;
    void ShowNamePage() override;

    SharedState& state_;
    platform::Platform& platform_;
    std::unique_ptr<Ui::MainForm> ui_;
    std::unique_ptr<net::HttpClient> http_;
    WindowThread windowThread_;
    ServiceHosts hosts_;
    CaptureGate gate_;
    RenameCommand rename_;
    SessionLogin session_;
    CaptureIntake intake_;
    DropIntake drop_;
    NewSessionForm* sessionForm_ = nullptr;
    SaveDialog saveDialog_;
    bool renameIsDefault_ = false;
    bool destroyed_ = false;
    bool closed_ = false; // no capture, drop or job starts any more
    std::vector<int> missingHotKeys_;
    std::deque<std::string> notices_;
};

} // namespace glimmerly
