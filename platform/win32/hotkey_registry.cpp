#include "platform/win32/hotkey_registry.h"

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

namespace {

#ifndef MOD_NOREPEAT
constexpr UINT MOD_NOREPEAT = 0x4000;
#endif

UINT SystemModifiers(unsigned modifiers) {
    UINT result = MOD_NOREPEAT;
    if (modifiers & Alt)
        result |= MOD_ALT;
    if (modifiers & Control)
        result |= MOD_CONTROL;
    if (modifiers & Shift)
        result |= MOD_SHIFT;
    return result;
}

} // namespace

HotKeyRegistry::~HotKeyRegistry() {
    for (int id : ids_)
        ::UnregisterHotKey(nullptr, id);
}

bool HotKeyRegistry::Register(int id, Key key, unsigned modifiers) {
    Unregister(id);
    const UINT virtualKey = key == Key::Print ? VK_SNAPSHOT : VK_END;
    if (!::RegisterHotKey(nullptr, id, SystemModifiers(modifiers), virtualKey))
        return false;
    ids_.insert(id);
    return true;
}

void HotKeyRegistry::Unregister(int id) {
    if (ids_.erase(id) != 0)
        ::UnregisterHotKey(nullptr, id);
}

int HotKeyRegistry::PressOf(const MSG& message) const {
    // Registered without a window, a press is a thread message (no window handle).
    if (message.message != WM_HOTKEY || message.hwnd != nullptr)
        return -1;
    const int id = static_cast<int>(message.wParam);
    return ids_.count(id) != 0 ? id : -1;
}

void HotKeyRegistry::DropQueuedPresses() {
    MSG message;
    // A window handle of -1 asks for the thread's own messages only.
    while (::PeekMessageA(&message, reinterpret_cast<HWND>(-1), WM_HOTKEY, WM_HOTKEY, PM_REMOVE)) {
    }
}

} // namespace glimmerly::platform::win32
