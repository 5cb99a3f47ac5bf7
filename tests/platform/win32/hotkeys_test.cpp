// Global hot keys through RegisterHotKey under wine. Wine does not take keys from the X server
// globally: a press reaches the hot key only while one of wine's windows has the focus, so the
// presses here are made (keybd_event) with a window of the test in front.

#include "platform/win32/hotkey_registry.h"

#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

#include <vector>

namespace glimmerly::platform::win32 {
namespace {

// The hot key ids of the presses that arrive within a moment, in order; other messages are
// dispatched as usual.
std::vector<int> PressesArriving(const HotKeyRegistry& registry) {
    std::vector<int> ids;
    for (int round = 0; round < 20; ++round) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_HOTKEY) {
                ids.push_back(registry.PressOf(message));
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        ::Sleep(20);
    }
    return ids;
}

void Press(BYTE key, bool withControl = false) {
    if (withControl)
        ::keybd_event(VK_CONTROL, 0, 0, 0);
    ::keybd_event(key, 0, 0, 0);
    ::keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    if (withControl)
        ::keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
}

class FocusedWindow {
public:
    FocusedWindow() {
        window_ = ::CreateWindowExA(0, "STATIC", "Fokus", WS_POPUP | WS_VISIBLE, 500, 300, 80, 60,
                                    nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        ::SetForegroundWindow(window_);
        ::SetFocus(window_);
    }
    ~FocusedWindow() { ::DestroyWindow(window_); }

private:
    HWND window_;
};

TEST(Win32HotKeys, AKeyHeldElsewhereIsRefusedUntilItIsGivenUp) {
    HotKeyRegistry first;
    ASSERT_TRUE(first.Register(101, Key::Print, NoModifier));
    ASSERT_TRUE(first.Register(102, Key::End, Control));
    EXPECT_TRUE(first.Register(101, Key::Print, NoModifier)) << "registering again keeps it";

    HotKeyRegistry other;
    EXPECT_FALSE(other.Register(201, Key::Print, NoModifier));
    EXPECT_FALSE(other.Register(202, Key::End, Control));
    EXPECT_TRUE(other.Register(203, Key::End, NoModifier)) << "End alone is another key";

    first.Unregister(101);
    EXPECT_TRUE(other.Register(201, Key::Print, NoModifier));
}

TEST(Win32HotKeys, PressesArriveWithTheirIdsAndQueuedOnesCanBeDropped) {
    FocusedWindow focus;
    HotKeyRegistry registry;
    ASSERT_TRUE(registry.Register(101, Key::Print, NoModifier));
    ASSERT_TRUE(registry.Register(102, Key::End, Control));
    PressesArriving(registry);

    Press(VK_SNAPSHOT);
    Press(VK_END, true);
    Press(VK_END); // no hot key
    EXPECT_EQ(PressesArriving(registry), (std::vector<int>{101, 102}));

    // Presses waiting in the queue are dropped; other thread messages stay.
    Press(VK_SNAPSHOT);
    ::Sleep(200);
    ::PostThreadMessageA(::GetCurrentThreadId(), WM_HOTKEY, 102, 0);
    ::PostThreadMessageA(::GetCurrentThreadId(), WM_APP, 7, 0);
    HotKeyRegistry::DropQueuedPresses();
    MSG left;
    ASSERT_TRUE(::PeekMessageA(&left, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(left.message, static_cast<UINT>(WM_APP));
    EXPECT_TRUE(PressesArriving(registry).empty());

    registry.Unregister(101);
    Press(VK_SNAPSHOT);
    EXPECT_TRUE(PressesArriving(registry).empty()) << "given up";
}

} // namespace
} // namespace glimmerly::platform::win32
