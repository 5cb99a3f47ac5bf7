#pragma once
// What the commands of the main window need of it: narrow views of its controls, so that the
// rename, the session login, the capture intake, the drop and the upload job's reports can run
// against a stand-in in tests. Every call happens on the window thread unless it says otherwise;
// texts are Windows-1252.

#include <optional>
#include <string>

namespace glimmerly {

class RenameView {
public:
    virtual ~RenameView() = default;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual std::string RenameText() = 0;
    virtual std::string AddressText() = 0;
    // The address field shows `address`; with `select` it takes the focus, all text selected.
    virtual void ShowAddress(const std::string& address, bool select) = 0;
    virtual void SetRenameControlsVisible(bool visible) = 0;
    virtual void FocusRename() = 0;
};

class SessionView {
public:
    virtual ~SessionView() = default;
    // Asks for the session name in the session dialog; nullopt when it was cancelled.
    virtual std::optional<std::string> AskSessionName() = 0;
    // The dialog's name field.
    virtual void SetSessionNameText(const std::string& name) = 0;
    // Unticks "Session-Modus", which runs its handler again.
    virtual void UncheckSessionMode() = 0;
    virtual void AppendToCaption(const std::string& suffix) = 0;
    virtual void ResetCaption() = 0;
    virtual bool OpenBrowserTicked() = 0;
    virtual void DisableOpenBrowser() = 0;
    // The session page's address under the options, focused and selected; or hidden.
    virtual void ShowSessionAddress(const std::string& address) = 0;
    virtual void HideSessionAddress() = 0;
    virtual void BringToFront() = 0;
};

struct CaptureOptions {
    bool activeWindowOnly = false; // "Nur aktives Fenster speichern"
    bool editAfterwards = false;   // "Anschließend bearbeiten"
    bool saveLocally = false;      // "Nur auf Festplatte speichern"
};

class CaptureView {
public:
    virtual ~CaptureView() = default;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void LockOptions(bool locked) = 0;
    virtual CaptureOptions Options() = 0;
    // Puts the proposed name into the name field and returns it as the field holds it.
    virtual std::string ProposeName(const std::string& name) = 0;
    virtual void BringToFront() = 0;
    // The name-and-address page with the progress bar; the name field has the focus and Enter
    // presses "Umbenennen".
    virtual void ShowNamePage() = 0;
};

class DropView : public CaptureView {
public:
    // Ticks or unticks "Nur aktives Fenster speichern".
    virtual void TickActiveWindow(bool ticked) = 0;
};

// What the upload job's reports need of the window besides the end of the job.
class JobWindowView {
public:
    virtual ~JobWindowView() = default;
    // Any thread: queued for the window thread, not waited for. Throws JobStopped once the window
    // has begun to close.
    virtual void ShowStatus(const std::string& text) = 0;
    // The notice that `version`, which is not the program's own, is available.
    virtual void ShowNewVersion(const std::string& version) = 0;
    // The save dialog; the chosen path, or nullopt when the user cancels.
    virtual std::optional<std::string> AskSaveFileName() = 0;
};

} // namespace glimmerly
