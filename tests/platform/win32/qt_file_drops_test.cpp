// Files dropped through WM_DROPFILES as the program sees them: the armed window's drop is read,
// released and handed to the handler from Qt's event loop, and never reaches the window itself;
// drops on other windows pass by. Under wine, with real windows.

#include "platform/win32/win32_file_drops.h"

#include "tests/platform/win32/drop_helpers.h"
#include "tests/platform/win32/qt_spin.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace glimmerly::platform::win32 {
namespace {

using Paths = std::vector<std::string>;
using testing::MakeDrop;

// What reached the windows' own procedure.
std::vector<std::pair<HWND, HDROP>> reachedWindow;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DROPFILES) {
        reachedWindow.emplace_back(window, reinterpret_cast<HDROP>(w));
        ::DragFinish(reinterpret_cast<HDROP>(w));
        return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
}

using testing::Spin;

bool Accepts(HWND window) {
    return (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
}

class Win32FileDropsTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"GlimmerlyDropTest";
        ::RegisterClassW(&wc);
        for (HWND* window : {&main_, &other_})
            *window = ::CreateWindowExW(0, L"GlimmerlyDropTest", L"Ziel", WS_OVERLAPPEDWINDOW, 100,
                                        100, 200, 150, nullptr, nullptr, wc.hInstance, nullptr);
        reachedWindow.clear();
    }
    void TearDown() override {
        ::DestroyWindow(main_);
        ::DestroyWindow(other_);
    }
    std::uintptr_t Id(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

    HWND main_ = nullptr;
    HWND other_ = nullptr;
    std::vector<Paths> drops_;
    Win32FileDrops filter_{[this](const Paths& paths) { drops_.push_back(paths); }};
};

TEST_F(Win32FileDropsTest, TheArmedWindowsDropReachesTheHandlerAfterTheMessage) {
    filter_.Accept(Id(main_), true);
    EXPECT_TRUE(Accepts(main_));
    EXPECT_FALSE(Accepts(other_));

    const Paths paths = {"C:\\Bilder\\Ωμέγα.jpg", "C:\\" + std::string(270, 'l') + ".bmp"};
    HDROP drop = MakeDrop(paths);
    ASSERT_TRUE(::PostMessageW(main_, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0));
    Spin();
    EXPECT_EQ(drops_, std::vector<Paths>{paths});
    EXPECT_TRUE(reachedWindow.empty());
    EXPECT_EQ(::GlobalSize(drop), 0u) << "the drop handle is released";

    // Seen by the filter, but the handler waits for the event loop.
    MSG msg{};
    msg.hwnd = main_;
    msg.message = WM_DROPFILES;
    msg.wParam = reinterpret_cast<WPARAM>(MakeDrop({"D:\\zweite.jpg"}));
    EXPECT_TRUE(filter_.nativeEventFilter("windows_generic_MSG", &msg, nullptr));
    EXPECT_EQ(drops_.size(), 1u);
    Spin();
    EXPECT_EQ(drops_.back(), Paths{"D:\\zweite.jpg"});
}

TEST_F(Win32FileDropsTest, DropsOnOtherWindowsPassBy) {
    filter_.Accept(Id(main_), true);
    HDROP drop = MakeDrop({"C:\\fremd.jpg"});
    ::PostMessageW(other_, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    Spin();
    EXPECT_TRUE(drops_.empty());
    ASSERT_EQ(reachedWindow.size(), 1u);
    EXPECT_EQ(reachedWindow[0].first, other_);
}

TEST_F(Win32FileDropsTest, ADisarmedWindowTakesNoNewDropsButFinishesQueuedOnes) {
    filter_.Accept(Id(main_), true);
    ::PostMessageW(main_, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({"C:\\spät.jpg"})), 0);
    filter_.Accept(Id(main_), false);
    EXPECT_FALSE(Accepts(main_));
    Spin();
    EXPECT_EQ(drops_, std::vector<Paths>{{"C:\\spät.jpg"}});
    EXPECT_TRUE(reachedWindow.empty());
}

} // namespace
} // namespace glimmerly::platform::win32
