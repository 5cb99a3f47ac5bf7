#pragma once
// What the program needs of the desktop, as small interfaces with no toolkit or window-system
// types in them; the program reaches every backend through them and through the calls of
// platform/create_platform.h, platform/desktop_session.h and platform/capture_channel.h.
// platform/x11 and platform/wayland implement them for Linux desktops, with platform/qt for
// what the toolkit does the same on both (the dialogs, the drops); platform/win32 maps each onto
// its Win32 calls. tests/support has a scripted fake.

#include "imaging/picture.h"
#include "platform/monitor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace glimmerly::platform {

class Screen {
public:
    virtual ~Screen() = default;
    // Every monitor in the system's order, with its full rectangle.
    virtual std::vector<Monitor> Monitors() = 0;
    // The screen area `band` (desktop coordinates) as a picture of band's size; parts that lie
    // off the screen are black. Throws std::runtime_error when the screen cannot be read.
    virtual Picture Grab(const Rect& band) = 0;
};

struct WindowInfo {
    std::string title; // Windows-1252, at most 254 characters
    Rect outer;        // outer rectangle, frame included, desktop coordinates
};

class Windows {
public:
    virtual ~Windows() = default;
    // The window that has the keyboard focus on the desktop; nullopt when there is none.
    virtual std::optional<WindowInfo> Foreground() = 0;
    // Restore (when minimised) and raise the given top-level window of this program and give it
    // the focus. `nativeId` is the window system's id of the window (QWidget::winId()).
    virtual void BringToFront(std::uintptr_t nativeId) = 0;
};

enum class Key { Print, End };
enum Modifier : unsigned { NoModifier = 0, Alt = 1, Control = 2, Shift = 4 };

class HotKeys {
public:
    virtual ~HotKeys() = default;
    // Registers a global hot key under `id`; false when it cannot be had (another program holds
    // it). Presses arrive through the handler, on the window thread, one call per press.
    virtual bool Register(int id, Key key, unsigned modifiers) = 0;
    virtual void Unregister(int id) = 0;
    virtual void SetHandler(std::function<void(int id)> onHotKey) = 0;
    // Drops every press made until now that has not reached the handler yet: presses that
    // waited in the queue while the window thread was blocked must not start work afterwards.
    // Presses the window system delivers during the call are dropped too. Window thread.
    virtual void DiscardPending() = 0;
};

class Shell {
public:
    virtual ~Shell() = default;
    // Opens an address with the desktop's default program ("open"); the result is not reported.
    virtual void Open(const std::string& address) = 0;
    // Simulated Shift key press and release (keybd_event with VK_SHIFT).
    virtual void PressShift() = 0;
    virtual void ReleaseShift() = 0;
};

class Files {
public:
    virtual ~Files() = default;
    // The per-user private temporary folder (created 0700 when missing, owner and mode checked),
    // with a trailing '/'. Throws std::runtime_error when no safe folder can be had.
    virtual std::string TempDir() = 0;
    // Creates or replaces the file with `bytes`. Throws std::runtime_error (naming the file) when
    // it cannot be written; a partly written file is removed then.
    virtual void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) = 0;
    virtual bool DeleteFile(const std::string& path) = 0;
    // Moves (renames, or copies and deletes across file systems); false on failure.
    virtual bool MoveFile(const std::string& from, const std::string& to) = 0;
};

// A colour as the dialogs take and give it.
struct Colour {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Colour&) const = default;
};

// The system's dialogs. Each is modal to the program's window `owner` (its window system id,
// QWidget::winId()) and runs until the user closes it. Window thread.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // The file for storing a JPEG locally: the one filter "JPEG-Dateien (*.jpg)", "jpg" added to
    // a name without an extension, asks before an existing file is replaced. The chosen path as
    // the program names files (UTF-8 on Windows, the file system's bytes elsewhere); nullopt when
    // the user cancels.
    virtual std::optional<std::string> AskJpegSaveFileName(std::uintptr_t owner) = 0;
    // The colour chooser opened on `initial`; any colour may be chosen. nullopt when the user
    // cancels.
    virtual std::optional<Colour> ChooseColour(std::uintptr_t owner, Colour initial) = 0;
};

// Files dragged from elsewhere and dropped on a window of the program.
class FileDrops {
public:
    virtual ~FileDrops() = default;
    // Arms (or disarms) the program's window `window` (its window system id; 0, a window not
    // made yet, is passed by) for drops of files. A drop of anything but files is refused.
    virtual void Accept(std::uintptr_t window, bool on) = 0;
    // The paths of each drop on the armed window, as the program names files, in the order of
    // the drop. Called from the event loop after the drop has been answered, so the handler may
    // open modal windows; a drop still on its way when the handler is replaced goes to the new
    // one (an empty handler drops it). Window thread.
    virtual void SetHandler(std::function<void(const std::vector<std::string>& paths)> onDrop) = 0;
};

// Held for the life of the process; released when destroyed or when the process dies.
class InstanceGuard {
public:
    virtual ~InstanceGuard() = default;
};

// What the desktop backend has to tell the user about this desktop (Windows-1252 texts for the
// status line), e.g. that something the program does elsewhere is not possible here. Notices
// posted before a handler is set wait for it. Window thread.
class Notices {
public:
    void Post(std::string text);
    // Hands over the waiting notices at once, then each new one as it is posted.
    void SetHandler(std::function<void(const std::string& text)> onNotice);

private:
    std::vector<std::string> waiting_;
    std::function<void(const std::string&)> handler_;
};

struct Platform {
    std::shared_ptr<Notices> notices = std::make_shared<Notices>();
    std::unique_ptr<Screen> screen;
    std::unique_ptr<Windows> windows;
    std::unique_ptr<HotKeys> hotKeys;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<Files> files;
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<FileDrops> fileDrops;
};

} // namespace glimmerly::platform
