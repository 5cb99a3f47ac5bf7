#pragma once
// The Win32 implementations of the platform interfaces that need no Qt. Internal to
// platform/win32; the program gets them through CreatePlatform().

#include "platform/platform.h"

#include <memory>
#include <string>

namespace glimmerly::platform::win32 {

// The monitors in the order EnumDisplayMonitors gives them, each with its full rectangle
// (GetMonitorInfo); monitors left of or above the primary one have negative positions.
std::vector<Monitor> EnumerateMonitors();

class Win32Screen : public Screen {
public:
    std::vector<Monitor> Monitors() override { return EnumerateMonitors(); }
    // BitBlt of the band from the display; what lies outside the virtual screen stays black.
    Picture Grab(const Rect& band) override;
};

class Win32Windows : public Windows {
public:
    // GetForegroundWindow with its ANSI title (GetWindowTextA: bytes of the system's code page,
    // Windows-1252 here, passed on unconverted) and its outer rectangle (GetWindowRect).
    std::optional<WindowInfo> Foreground() override;
    void BringToFront(std::uintptr_t nativeId) override;
};

class Win32Shell : public Shell {
public:
    // ShellExecuteA with "open" and SW_HIDE.
    void Open(const std::string& address) override;
    // keybd_event with VK_SHIFT.
    void PressShift() override;
    void ReleaseShift() override;
};

// Paths are UTF-8 and reach the system through the W calls (wide_path.h), so neither a name
// outside the ANSI code page nor a path longer than MAX_PATH is lost on the way.
class Win32Files : public Files {
public:
    // GetTempPathW as UTF-8, with a trailing '\' added when missing.
    std::string TempDir() override;
    void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) override;
    bool DeleteFile(const std::string& path) override;
    // Replaces an existing `to`, as rename does on the other systems; across drives the file is
    // copied and the original removed.
    bool MoveFile(const std::string& from, const std::string& to) override;
};

// The common dialogs (dialogs.h) as the program's dialogs.
class Win32Dialogs : public Dialogs {
public:
    std::optional<std::string> AskJpegSaveFileName(std::uintptr_t owner) override;
    std::optional<Colour> ChooseColour(std::uintptr_t owner, Colour initial) override;
};

// The named mutex `name`, held while this is the only running copy; nullptr when the mutex
// already exists (another copy runs) or cannot be created at all (a copy of another user holds
// it), for either way this copy has to end without a word.
std::unique_ptr<InstanceGuard> AcquireNamedMutex(const std::string& name);

} // namespace glimmerly::platform::win32
