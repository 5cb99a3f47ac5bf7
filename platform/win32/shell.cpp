#include "platform/win32/win32_parts.h"

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

void Win32Shell::Open(const std::string& address) {
    ::ShellExecuteA(nullptr, "open", address.c_str(), "", "", SW_HIDE);
}

void Win32Shell::PressShift() {
    ::keybd_event(VK_SHIFT, 0, 0, 0);
}

void Win32Shell::ReleaseShift() {
    ::keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
}

} // namespace glimmerly::platform::win32
