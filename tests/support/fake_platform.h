#pragma once
// A scripted desktop for tests: every platform interface, driven and observed by the test.
//
//   glimmerly::testing::FakePlatform desktop;
//   desktop.screen().SetMonitors({{{0, 0, 1920, 1080}, true}});
//   desktop.windows().foreground = glimmerly::platform::WindowInfo{"Unbenannt - Editor", ...};
//   auto platform = desktop.MakePlatform(); // hand this to the code under test
//   desktop.hotKeys().Press(101);
//
// After MakePlatform() the parts belong to the returned Platform; the accessors stay valid as
// long as that Platform lives.

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace glimmerly::testing {

class FakeScreen : public platform::Screen {
public:
    // One 1920 × 1080 primary monitor showing Pattern() until told otherwise.
    FakeScreen();

    void SetMonitors(std::vector<platform::Monitor> monitors);
    // The desktop's pixels: `picture` covers desktop coordinates from (left, top) on; the rest of
    // the desktop is black.
    void SetDesktop(Picture picture, int left = 0, int top = 0);
    // A picture whose every pixel tells its place: blue = x mod 256, green = y mod 256,
    // red = (x / 256 + y / 256 × 16) mod 256, in the picture's own coordinates.
    static Picture Pattern(int width, int height);

    std::vector<platform::Monitor> Monitors() override { return monitors_; }
    Picture Grab(const Rect& band) override;

    // Recorded calls and scripted failure.
    std::vector<Rect> grabs;
    bool failGrab = false;

private:
    std::vector<platform::Monitor> monitors_;
    Picture desktop_;
    int left_ = 0;
    int top_ = 0;
};

class FakeWindows : public platform::Windows {
public:
    std::optional<platform::WindowInfo> Foreground() override {
        ++foregroundCalls;
        return foreground;
    }
    void BringToFront(std::uintptr_t nativeId) override { broughtToFront.push_back(nativeId); }

    std::optional<platform::WindowInfo> foreground; // none by default
    int foregroundCalls = 0;
    std::vector<std::uintptr_t> broughtToFront;
};

class FakeHotKeys : public platform::HotKeys {
public:
    bool Register(int id, platform::Key key, unsigned modifiers) override;
    void Unregister(int id) override { registered.erase(id); }
    void SetHandler(std::function<void(int id)> onHotKey) override {
        handler_ = std::move(onHotKey);
    }

    // Makes Register fail for this key, as when another program holds it; or lets it go again.
    void HeldElsewhere(platform::Key key, unsigned modifiers) { held_.insert({key, modifiers}); }
    void ReleasedElsewhere(platform::Key key, unsigned modifiers) { held_.erase({key, modifiers}); }
    // A press of the hot key `id`: calls the handler at once, on the calling thread. False (and
    // no call) when `id` is not registered or no handler is set.
    bool Press(int id);
    bool IsRegistered(int id) const { return registered.count(id) != 0; }
    // A press made while the window thread is busy (any thread): it waits until
    // DeliverQueued(), the window system's next turn, unless DiscardPending() drops it first.
    void Queue(int id);
    // Delivers the waiting presses in order; returns how many reached the handler.
    int DeliverQueued();
    void DiscardPending() override;
    int discards = 0;

    std::map<int, std::pair<platform::Key, unsigned>> registered;
    std::vector<int> registerCalls; // ids, including refused ones

private:
    std::function<void(int)> handler_;
    std::set<std::pair<platform::Key, unsigned>> held_;
    std::mutex queueMutex_;
    std::vector<int> queued_;
};

class FakeShell : public platform::Shell {
public:
    void Open(const std::string& address) override;
    void PressShift() override;
    void ReleaseShift() override;

    std::vector<std::string> opened;
    // Every call in order: "PressShift", "Open <address>", "ReleaseShift".
    std::vector<std::string> calls;
    bool shiftDown = false;
};

// Real file operations in a temporary folder of its own (removed again with the fake), every
// call recorded, failures on demand.
class FakeFiles : public platform::Files {
public:
    FakeFiles();
    ~FakeFiles() override;
    FakeFiles(const FakeFiles&) = delete;
    FakeFiles& operator=(const FakeFiles&) = delete;

    std::string TempDir() override;
    void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) override;
    bool DeleteFile(const std::string& path) override;
    bool MoveFile(const std::string& from, const std::string& to) override;

    // What the code under test left behind, looked at directly (not recorded in `calls`): whether
    // anything is at `path`, and a regular file's size (0 for anything else).
    bool Exists(const std::string& path) const;
    std::uint64_t FileSizeOf(const std::string& path) const;
    // The folder TempDir() hands out, with its trailing '/'.
    const std::string& folder() const { return folder_; }

    bool failTempDir = false; // TempDir throws std::runtime_error
    bool failDelete = false;  // DeleteFile does nothing and returns false
    bool failMove = false;    // MoveFile does nothing and returns false
    // Every call in order, e.g. "DeleteFile /tmp/…/screen.jpg", "MoveFile a -> b".
    std::vector<std::string> calls;

private:
    glimmerly::testing::TempDir dir_{"glimmerly-files"};
    std::string folder_;
    std::unique_ptr<platform::Files> real_;
};

// The dialogs answer as the test says; an unset answer is a cancel.
class FakeDialogs : public platform::Dialogs {
public:
    std::optional<std::string> AskJpegSaveFileName(std::uintptr_t owner) override;
    std::optional<platform::Colour> ChooseColour(std::uintptr_t owner,
                                                 platform::Colour initial) override;

    std::function<std::optional<std::string>()> saveAs;
    std::function<std::optional<platform::Colour>(platform::Colour initial)> colour;
    // The owner window of each opening, in order.
    std::vector<std::uintptr_t> owners;
};

// Drops as the window system hands them: only on the window armed last, to the handler of the
// moment.
class FakeFileDrops : public platform::FileDrops {
public:
    void Accept(std::uintptr_t window, bool on) override;
    void SetHandler(std::function<void(const std::vector<std::string>& paths)> onDrop) override {
        onDrop_ = std::move(onDrop);
    }
    // Drops `paths` on the armed window; false (and nothing handed on) while none is armed.
    bool Drop(const std::vector<std::string>& paths);

    std::uintptr_t armed = 0; // the window armed for drops; 0 for none

private:
    std::function<void(const std::vector<std::string>&)> onDrop_;
};

class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // Hands the parts out, once; throws std::logic_error on a second call.
    std::unique_ptr<platform::Platform> MakePlatform();

    FakeScreen& screen() { return *screen_; }
    FakeWindows& windows() { return *windows_; }
    FakeHotKeys& hotKeys() { return *hotKeys_; }
    FakeShell& shell() { return *shell_; }
    FakeFiles& files() { return *files_; }
    FakeDialogs& dialogs() { return *dialogs_; }
    FakeFileDrops& fileDrops() { return *fileDrops_; }
    // Shorthand for hotKeys().Press(id).
    bool Press(int id) { return hotKeys_->Press(id); }

private:
    std::unique_ptr<platform::Platform> parts_;
    FakeScreen* screen_;
    FakeWindows* windows_;
    FakeHotKeys* hotKeys_;
    FakeShell* shell_;
    FakeFiles* files_;
    FakeDialogs* dialogs_;
    FakeFileDrops* fileDrops_;
};

} // namespace glimmerly::testing
