#pragma once
// The main window: status line, progress bar, options, the name-and-address page and the hot
// keys. It owns its controls and routes their events; the work behind its commands lives in
// MainFormCommands, built beside the window and handed to it, which sees the window through
// narrow views.

#include "app/main_form_commands.h"
#include "app/window_thread.h"
#include "app/window_views.h"
#include "imaging/picture.h"
#include "upload/server_protocol.h"

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
} // namespace platform

inline constexpr int kHotKeyPrint = 101;
inline constexpr int kHotKeyCtrlEnd = 102;
inline constexpr int kHotKeyOther = 103;
// A stalled server fails a request after this long without a byte moving.
inline constexpr int kIdleTimeoutMs = 60000;

class MainForm : public QWidget,
                 public RenameView,
                 public SessionView,
                 public DropView,
                 public JobWindowView {
    Q_OBJECT

public:
    // The client's progress events move the progress bar from now on. `http` outlives the window;
    // its commands are handed over (SetCommands) before it is shown.
    MainForm(SharedState& state, platform::Platform& platform, net::HttpClient& http,
             ServiceHosts hosts, QWidget* parent = nullptr);
    ~MainForm() override;

    // The window as its commands see it.
    WindowViews Views() { return {*this, *this, *this, *this, windowThread_}; }
    void SetCommands(std::unique_ptr<MainFormCommands> commands) {
        commands_ = std::move(commands);
    }
    // After SetCommands: the session dialog for the login, the editor for the capture intake.
    void SetDialogs(NewSessionForm* sessionForm, ImageEditorForm* editor);

    Ui::MainForm& Controls() { return *ui_; }
    net::HttpClient& IdHTTP1() { return http_; }

    // Safe from any thread.
    void ShowStatus(const std::string& text) override;
    void LockOptions(bool locked) override;
    void IdHTTP1WorkBegin(int workMode, std::int64_t workCountMax);
    void IdHTTP1Work(int workMode, std::int64_t workCount);
    void IdHTTP1WorkEnd(int workMode);

    // Window thread.
    void FormShow();
    void WMHotKey(int id);
    // Whether a hot key (101 to 103) would start a capture now.
    bool TakesHotKeys() const;
    void Capture() { commands_->intake.Capture(); }
    // The desktop band of `monitors` as a new picture; `bandLeft` receives the desktop column of
    // its column 0.
    Picture Screenshot(const std::vector<platform::Monitor>& monitors, int& bandLeft) {
        return commands_->intake.Screenshot(monitors, bandLeft);
    }
    // The files of one drop, as full local paths.
    void WMDropFiles(const std::vector<std::string>& paths) {
        if (!closed_)
            commands_->drop.WMDropFiles(paths);
    }
    void RenameButtonClick() { commands_->rename.ButtonClick(); }
    void RenameScreenshot() { commands_->rename.Send(); }
    void SessionModeCheckBoxClick();
    void SpeedButton1Click();
    void Label5Click();
    void DontBringToFrontCheckboxClick() {}
    // Ends everything that may outlive the window: the job, the connection, the hot keys.
    void FormDestroy();

    // JobWindowView: what the upload job's reports show besides the status line.
    void ShowNewVersion(const std::string& version) override;
    std::optional<std::string> AskSaveFileName() override;

    // Hot keys that could not be registered at start (ids).
    const std::vector<int>& MissingHotKeys() const { return missingHotKeys_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The caption after every reset: the application title and the program's version.
    static QString Caption();
    void FormCreate();
    void FormClose();
    void ReportMissingHotKeys();
    // Arms or disarms the window for dropped files.
    void AcceptDroppedFiles(bool on);
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
    // DropView
    CaptureOptions Options() override;
    std::string ProposeName(const std::string& name) override;
    void ShowNamePage() override;
    void TickActiveWindow(bool ticked) override;

    SharedState& state_;
    platform::Platform& platform_;
    net::HttpClient& http_;
    const ServiceHosts hosts_;
    std::unique_ptr<Ui::MainForm> ui_;
    WindowThread windowThread_;
    std::unique_ptr<MainFormCommands> commands_;
    NewSessionForm* sessionForm_ = nullptr;
    // The size of the body being sent, as its first progress event announced it.
    std::int32_t workCountMax_ = 0;
    bool renameIsDefault_ = false;
    bool destroyed_ = false;
    bool closed_ = false; // no capture, drop or job starts any more
    std::vector<int> missingHotKeys_;
    std::deque<std::string> notices_;
};

} // namespace glimmerly
