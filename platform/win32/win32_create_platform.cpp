#include "platform/create_platform.h"

#include "platform/win32/win32_file_drops.h"
#include "platform/win32/win32_hotkeys.h"
#include "platform/win32/win32_parts.h"

namespace glimmerly::platform {

std::unique_ptr<Platform> CreatePlatform() {
    auto platform = std::make_unique<Platform>();
    platform->screen = std::make_unique<win32::Win32Screen>();
    platform->windows = std::make_unique<win32::Win32Windows>();
    platform->hotKeys = std::make_unique<win32::Win32HotKeys>();
    platform->shell = std::make_unique<win32::Win32Shell>();
    platform->files = std::make_unique<win32::Win32Files>();
    platform->dialogs = std::make_unique<win32::Win32Dialogs>();
    platform->fileDrops = std::make_unique<win32::Win32FileDrops>();
    return platform;
}

std::unique_ptr<InstanceGuard> AcquireInstanceGuard(const std::string& name) {
    return win32::AcquireNamedMutex(name);
}

} // namespace glimmerly::platform
