// The hot keys as the program sees them: presses through Qt's event loop to the handler, one
// call each and after the press has left Qt's event processing; presses waiting when
// DiscardPending() is called never reach it. Under wine, with a window of the test in front.

#include "platform/win32/win32_hotkeys.h"

#include "platform/win32/windows_api.h"
#include "tests/platform/win32/qt_spin.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <vector>

namespace glimmerly::platform::win32 {
namespace {

void Press(BYTE key, bool withControl = false) {
    if (withControl)
        ::keybd_event(VK_CONTROL, 0, 0, 0);
    ::keybd_event(key, 0, 0, 0);
    ::keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    if (withControl)
        ::keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
}

using testing::Spin;

class Win32HotKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = ::CreateWindowExA(0, "STATIC", "Fokus", WS_POPUP | WS_VISIBLE, 500, 300, 80, 60,
                                    nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        ::SetForegroundWindow(window_);
        ::SetFocus(window_);
        hotKeys_.SetHandler([this](int id) { presses_.push_back(id); });
        ASSERT_TRUE(hotKeys_.Register(101, Key::Print, NoModifier));
        ASSERT_TRUE(hotKeys_.Register(102, Key::End, Control));
        Spin(200);
    }
    void TearDown() override { ::DestroyWindow(window_); }

    HWND window_ = nullptr;
    Win32HotKeys hotKeys_;
    std::vector<int> presses_;
};

TEST_F(Win32HotKeysTest, EachPressReachesTheHandlerOnceWithItsId) {
    Press(VK_SNAPSHOT);
    Press(VK_END, true);
    Press(VK_SNAPSHOT);
    Spin(600);
    EXPECT_EQ(presses_, (std::vector<int>{101, 102, 101}));

    hotKeys_.Unregister(101);
    Press(VK_SNAPSHOT);
    Spin(600);
    EXPECT_EQ(presses_.size(), 3u) << "given up";
}

TEST_F(Win32HotKeysTest, PressesMadeBeforeDiscardPendingNeverArrive) {
    // Waiting in the system's queue...
    Press(VK_SNAPSHOT);
    ::Sleep(200);
    hotKeys_.DiscardPending();
    Spin(600);
    EXPECT_TRUE(presses_.empty());

    // ...and already taken from the queue by Qt's loop, but not yet handed on.
    MSG taken{};
    taken.message = WM_HOTKEY;
    taken.wParam = 102;
    EXPECT_TRUE(hotKeys_.nativeEventFilter("windows_generic_MSG", &taken, nullptr));
    hotKeys_.DiscardPending();
    Spin(600);
    EXPECT_TRUE(presses_.empty());

    Press(VK_SNAPSHOT);
    Spin(600);
    EXPECT_EQ(presses_, (std::vector<int>{101}));
}

TEST_F(Win32HotKeysTest, AKeyHeldByAnotherProgramIsRefused) {
    HotKeyRegistry otherProgram;
    EXPECT_FALSE(otherProgram.Register(7, Key::Print, NoModifier));
    hotKeys_.Unregister(101);
    ASSERT_TRUE(otherProgram.Register(7, Key::Print, NoModifier));
    EXPECT_FALSE(hotKeys_.Register(101, Key::Print, NoModifier));
    EXPECT_TRUE(hotKeys_.Register(102, Key::End, Control));
}

} // namespace
} // namespace glimmerly::platform::win32

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
