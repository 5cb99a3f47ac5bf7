#include "platform/win32/win32_parts.h"

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

std::optional<WindowInfo> Win32Windows::Foreground() {
    HWND window = ::GetForegroundWindow();
    if (window == nullptr)
        return std::nullopt;
    WindowInfo info;
    char title[255];
    const int n = ::GetWindowTextA(window, title, sizeof title);
    info.title.assign(title, n > 0 ? static_cast<std::size_t>(n) : 0);
    RECT r{};
    if (!::GetWindowRect(window, &r))
        return std::nullopt;
    info.outer = Rect{r.left, r.top, r.right, r.bottom};
    return info;
}

void Win32Windows::BringToFront(std::uintptr_t nativeId) {
    HWND window = reinterpret_cast<HWND>(nativeId);
    if (::IsIconic(window))
        ::ShowWindow(window, SW_RESTORE);
    ::SetForegroundWindow(window);
    ::SetFocus(window);
}

} // namespace glimmerly::platform::win32
