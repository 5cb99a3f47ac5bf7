#include "tests/support/fake_platform.h"

#ifdef _WIN32
#include "platform/win32/win32_parts.h"
#else
#include "platform/posix/posix_files.h"
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace glimmerly::testing {

// ---- Screen ----

FakeScreen::FakeScreen() {
    monitors_ = {platform::Monitor{Rect{0, 0, 1920, 1080}, true}};
    desktop_ = Pattern(1920, 1080);
}

void FakeScreen::SetMonitors(std::vector<platform::Monitor> monitors) {
    monitors_ = std::move(monitors);
}

void FakeScreen::SetDesktop(Picture picture, int left, int top) {
    desktop_ = std::move(picture);
    left_ = left;
    top_ = top;
}

Picture FakeScreen::Pattern(int width, int height) {
    Picture picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = picture.At(x, y);
            p[0] = static_cast<std::uint8_t>(x & 255);
            p[1] = static_cast<std::uint8_t>(y & 255);
            p[2] = static_cast<std::uint8_t>((x / 256 + (y / 256) * 16) & 255);
        }
    }
    return picture;
}

Picture FakeScreen::Grab(const Rect& band) {
    grabs.push_back(band);
    if (failGrab) {
        throw std::runtime_error("Bildschirminhalt kann nicht gelesen werden");
    }
    if (band.Width() <= 0 || band.Height() <= 0) {
        return Picture();
    }
    Picture picture(band.Width(), band.Height());
    // Only what lies on a monitor and on the scripted desktop is visible; the rest stays black.
    for (const platform::Monitor& m : monitors_) {
        const int left = std::max({band.Left, m.rect.Left, left_});
        const int right = std::min({band.Right, m.rect.Right, left_ + desktop_.width});
        const int top = std::max({band.Top, m.rect.Top, top_});
        const int bottom = std::min({band.Bottom, m.rect.Bottom, top_ + desktop_.height});
        for (int y = top; y < bottom; ++y) {
            if (left < right) {
                std::memcpy(picture.At(left - band.Left, y - band.Top),
                            desktop_.At(left - left_, y - top_),
                            static_cast<std::size_t>(right - left) * 3);
            }
        }
    }
    return picture;
}

// ---- Hot keys ----

bool FakeHotKeys::Register(int id, platform::Key key, unsigned modifiers) {
    registerCalls.push_back(id);
    registered.erase(id);
    if (held_.count({key, modifiers}) != 0) {
        return false;
    }
    for (const auto& [otherId, combination] : registered) {
        if (combination == std::make_pair(key, modifiers)) {
            return false;
        }
    }
    registered[id] = {key, modifiers};
    return true;
}

bool FakeHotKeys::Press(int id) {
    if (!IsRegistered(id) || !handler_) {
        return false;
    }
    handler_(id);
    return true;
}

void FakeHotKeys::Queue(int id) {
    std::lock_guard lock(queueMutex_);
    queued_.push_back(id);
}

int FakeHotKeys::DeliverQueued() {
    std::vector<int> presses;
    {
        std::lock_guard lock(queueMutex_);
        presses.swap(queued_);
    }
    int delivered = 0;
    for (int id : presses)
        delivered += Press(id) ? 1 : 0;
    return delivered;
}

void FakeHotKeys::DiscardPending() {
    std::lock_guard lock(queueMutex_);
    ++discards;
    queued_.clear();
}

// ---- Shell ----

void FakeShell::Open(const std::string& address) {
    opened.push_back(address);
    calls.push_back("Open " + address);
}

void FakeShell::PressShift() {
    shiftDown = true;
    calls.push_back("PressShift");
}

void FakeShell::ReleaseShift() {
    shiftDown = false;
    calls.push_back("ReleaseShift");
}

// ---- Files ----

#ifdef _WIN32
FakeFiles::FakeFiles()
    : folder_(dir_.Root().string() + "/"), real_(std::make_unique<platform::win32::Win32Files>()) {}
#else
FakeFiles::FakeFiles()
    : folder_(dir_.Root().string() + "/"),
      real_(std::make_unique<platform::PosixFiles>("", dir_.Root().string())) {}
#endif

FakeFiles::~FakeFiles() = default;

std::string FakeFiles::TempDir() {
    calls.push_back("TempDir");
    if (failTempDir) {
        throw std::runtime_error("Temporärer Ordner ist nicht sicher");
    }
    return folder_;
}

namespace {

std::filesystem::path OnDisk(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end())); // UTF-8 everywhere
}

} // namespace

bool FakeFiles::Exists(const std::string& path) const {
    std::error_code error;
    return !path.empty() &&
           std::filesystem::exists(std::filesystem::symlink_status(OnDisk(path), error));
}

std::uint64_t FakeFiles::FileSizeOf(const std::string& path) const {
    std::error_code error;
    if (!std::filesystem::is_regular_file(OnDisk(path), error))
        return 0;
    const std::uintmax_t size = std::filesystem::file_size(OnDisk(path), error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

void FakeFiles::WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    calls.push_back("WriteFile " + path);
    real_->WriteFile(path, bytes);
}

bool FakeFiles::DeleteFile(const std::string& path) {
    calls.push_back("DeleteFile " + path);
    return !failDelete && real_->DeleteFile(path);
}

bool FakeFiles::MoveFile(const std::string& from, const std::string& to) {
    calls.push_back("MoveFile " + from + " -> " + to);
    return !failMove && real_->MoveFile(from, to);
}

// ---- Dialogs and drops ----

std::optional<std::string> FakeDialogs::AskJpegSaveFileName(std::uintptr_t owner) {
    owners.push_back(owner);
    return saveAs ? saveAs() : std::nullopt;
}

std::optional<platform::Colour> FakeDialogs::ChooseColour(std::uintptr_t owner,
                                                          platform::Colour initial) {
    owners.push_back(owner);
    return colour ? colour(initial) : std::nullopt;
}

void FakeFileDrops::Accept(std::uintptr_t window, bool on) {
    if (window == 0)
        return;
    if (on)
        armed = window;
    else if (armed == window)
        armed = 0;
}

bool FakeFileDrops::Drop(const std::vector<std::string>& paths) {
    if (armed == 0)
        return false;
    if (onDrop_)
        onDrop_(paths);
    return true;
}

// ---- Platform ----

FakePlatform::FakePlatform() : parts_(std::make_unique<platform::Platform>()) {
    auto screen = std::make_unique<FakeScreen>();
    auto windows = std::make_unique<FakeWindows>();
    auto hotKeys = std::make_unique<FakeHotKeys>();
    auto shell = std::make_unique<FakeShell>();
    auto files = std::make_unique<FakeFiles>();
    auto dialogs = std::make_unique<FakeDialogs>();
    auto fileDrops = std::make_unique<FakeFileDrops>();
    screen_ = screen.get();
    windows_ = windows.get();
    hotKeys_ = hotKeys.get();
    shell_ = shell.get();
    files_ = files.get();
    dialogs_ = dialogs.get();
    fileDrops_ = fileDrops.get();
    parts_->screen = std::move(screen);
    parts_->windows = std::move(windows);
    parts_->hotKeys = std::move(hotKeys);
    parts_->shell = std::move(shell);
    parts_->files = std::move(files);
    parts_->dialogs = std::move(dialogs);
    parts_->fileDrops = std::move(fileDrops);
}

FakePlatform::~FakePlatform() = default;

std::unique_ptr<platform::Platform> FakePlatform::MakePlatform() {
    if (!parts_) {
        throw std::logic_error("FakePlatform::MakePlatform called twice");
    }
    return std::move(parts_);
}

} // namespace glimmerly::testing
