// The Win32 backend against a real display (wine on an X server): the monitor list, the grab of a
// window with a known pattern and the foreground window's title and rectangle.

#include "platform/win32/win32_parts.h"

#include "tests/support/cp1252_literal.h"

#include <gtest/gtest.h>

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {
namespace {

using namespace glimmerly::testing::literals;

constexpr COLORREF kLeft = RGB(200, 30, 10);
constexpr COLORREF kRight = RGB(20, 180, 60);
constexpr COLORREF kBottom = RGB(10, 40, 230);

// The top half is kLeft | kRight side by side, the bottom half kBottom.
LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message != WM_PAINT)
        return ::DefWindowProcA(window, message, w, l);
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(window, &ps);
    RECT r;
    ::GetClientRect(window, &r);
    const int midX = r.right / 2, midY = r.bottom / 2;
    auto fill = [&](RECT part, COLORREF colour) {
        HBRUSH brush = ::CreateSolidBrush(colour);
        ::FillRect(dc, &part, brush);
        ::DeleteObject(brush);
    };
    fill({0, 0, midX, midY}, kLeft);
    fill({midX, 0, r.right, midY}, kRight);
    fill({0, midY, r.right, r.bottom}, kBottom);
    ::EndPaint(window, &ps);
    return 0;
}

void Pump() {
    for (int round = 0; round < 20; ++round) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(25);
    }
}

// A frameless top-most window at `at` with the pattern in it.
class PatternWindow {
public:
    PatternWindow(const Rect& at, const std::string& title) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = PatternProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "GlimmerlyTestPattern";
        ::RegisterClassA(&wc);
        window_ = ::CreateWindowExA(WS_EX_TOPMOST, "GlimmerlyTestPattern", title.c_str(),
                                    WS_POPUP | WS_VISIBLE, at.Left, at.Top, at.Width(), at.Height(),
                                    nullptr, nullptr, wc.hInstance, nullptr);
        ::SetForegroundWindow(window_);
        ::UpdateWindow(window_);
        Pump();
    }
    ~PatternWindow() { ::DestroyWindow(window_); }
    HWND get() const { return window_; }

private:
    HWND window_;
};

std::uint32_t PixelAt(const Picture& p, int x, int y) {
    const std::uint8_t* px = p.At(x, y);
    return RGB(px[2], px[1], px[0]);
}

TEST(Win32Desktop, TheMonitorListHasOnePrimaryAtTheOriginAndSpansTheVirtualScreen) {
    Win32Screen screen;
    const std::vector<Monitor> monitors = screen.Monitors();
    ASSERT_FALSE(monitors.empty());
    int primaries = 0;
    for (const Monitor& m : monitors) {
        EXPECT_GT(m.rect.Width(), 0);
        EXPECT_GT(m.rect.Height(), 0);
        if (m.primary) {
            ++primaries;
            EXPECT_EQ(m.rect.Left, 0);
            EXPECT_EQ(m.rect.Top, 0);
            EXPECT_EQ(m.rect.Height(), ::GetSystemMetrics(SM_CYSCREEN));
        }
    }
    EXPECT_EQ(primaries, 1);
    const Rect all = MonitorUnion(monitors);
    EXPECT_EQ(all.Left, ::GetSystemMetrics(SM_XVIRTUALSCREEN));
    EXPECT_EQ(all.Top, ::GetSystemMetrics(SM_YVIRTUALSCREEN));
    EXPECT_EQ(all.Width(), ::GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_EQ(all.Height(), ::GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

TEST(Win32Desktop, TheGrabShowsTheWindowWhereItIsAndBlackOffTheScreen) {
    PatternWindow window({100, 80, 180, 140}, "Muster");
    Win32Screen screen;

    // A band around the window: its pattern at the window's offset in the band.
    const Picture band = screen.Grab({90, 75, 200, 150});
    ASSERT_EQ(band.width, 110);
    ASSERT_EQ(band.height, 75);
    EXPECT_EQ(PixelAt(band, 10 + 5, 5 + 5), kLeft);
    EXPECT_EQ(PixelAt(band, 10 + 75, 5 + 25), kRight);
    EXPECT_EQ(PixelAt(band, 10 + 40, 5 + 55), kBottom);
    EXPECT_EQ(PixelAt(band, 10 + 79, 5 + 59), kBottom) << "the window's last pixel";

    // A band reaching beyond the virtual screen's top-left corner: black there, the window at
    // its place further in.
    const int vx = ::GetSystemMetrics(SM_XVIRTUALSCREEN),
              vy = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    PatternWindow corner({vx, vy, vx + 40, vy + 40}, "Ecke");
    const Picture edge = screen.Grab({vx - 20, vy - 10, vx + 30, vy + 30});
    ASSERT_EQ(edge.width, 50);
    ASSERT_EQ(edge.height, 40);
    EXPECT_EQ(PixelAt(edge, 5, 5), 0u);
    EXPECT_EQ(PixelAt(edge, 25, 5), 0u);
    EXPECT_EQ(PixelAt(edge, 5, 25), 0u);
    EXPECT_EQ(PixelAt(edge, 20, 10), kLeft) << "the corner's first pixel";
    EXPECT_EQ(PixelAt(edge, 20 + 25, 10 + 5), kRight);
    EXPECT_EQ(PixelAt(edge, 20 + 5, 10 + 25), kBottom);
}

// The test display has two monitors: the primary and, left of it, a second one that Windows
// places at negative x (tests/support/windows/two_monitors.conf).
TEST(Win32Desktop, ASecondMonitorLeftOfThePrimaryLiesAtNegativeX) {
    Win32Screen screen;
    const std::vector<Monitor> monitors = screen.Monitors();
    ASSERT_EQ(monitors.size(), 2u);
    const Monitor& primary = monitors[0].primary ? monitors[0] : monitors[1];
    const Monitor& left = monitors[0].primary ? monitors[1] : monitors[0];
    ASSERT_TRUE(primary.primary);
    ASSERT_FALSE(left.primary);
    EXPECT_EQ(primary.rect, (Rect{0, 0, 1280, 800}));
    EXPECT_EQ(left.rect, (Rect{-1024, 0, 0, 768}));
    EXPECT_EQ(::GetSystemMetrics(SM_XVIRTUALSCREEN), -1024);
    EXPECT_EQ(::GetSystemMetrics(SM_CXVIRTUALSCREEN), 1024 + 1280);
    EXPECT_EQ(MonitorUnion(monitors), (Rect{-1024, 0, 1280, 800}));
}

TEST(Win32Desktop, TheGrabReadsBothMonitorsAcrossTheirBorder) {
    // Half of the window's top on each monitor; a second window wholly on the left one.
    PatternWindow across({-60, 100, 60, 200}, "Grenze");
    PatternWindow farLeft({-900, 300, -800, 380}, "Links");
    Win32Screen screen;

    const Picture band = screen.Grab({-80, 90, 80, 210});
    ASSERT_EQ(band.width, 160);
    ASSERT_EQ(band.height, 120);
    EXPECT_EQ(PixelAt(band, 20 + 2, 10 + 2), kLeft) << "left of the border";
    EXPECT_EQ(PixelAt(band, 20 + 59, 10 + 49), kLeft) << "the last column on the left monitor";
    EXPECT_EQ(PixelAt(band, 20 + 60, 10 + 2), kRight) << "the first column on the primary";
    EXPECT_EQ(PixelAt(band, 20 + 117, 10 + 49), kRight);
    EXPECT_EQ(PixelAt(band, 20 + 30, 10 + 70), kBottom);
    EXPECT_EQ(PixelAt(band, 20 + 90, 10 + 99), kBottom);

    // The whole virtual screen, as a capture of all monitors takes it.
    const Rect all = MonitorUnion(screen.Monitors());
    const Picture whole = screen.Grab(all);
    ASSERT_EQ(whole.width, all.Width());
    ASSERT_EQ(whole.height, all.Height());
    EXPECT_EQ(PixelAt(whole, -900 - all.Left + 1, 300 + 1), kLeft);
    EXPECT_EQ(PixelAt(whole, -800 - all.Left - 1, 300 + 1), kRight);
    EXPECT_EQ(PixelAt(whole, -800 - all.Left - 1, 380 - 1), kBottom);
    EXPECT_EQ(PixelAt(whole, -60 - all.Left, 100), kLeft);
    EXPECT_EQ(PixelAt(whole, 59 - all.Left, 100), kRight);
}

TEST(Win32Desktop, TheForegroundWindowGivesItsAnsiTitleAndOuterRectangle) {
    const std::string title = "Größe – Übersicht €"_cp1252;
    PatternWindow window({300, 200, 420, 290}, title);
    Win32Windows windows;
    const auto info = windows.Foreground();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->title, title);
    EXPECT_EQ(info->outer, (Rect{300, 200, 420, 290}));

    // Titles longer than 254 characters are cut there.
    const std::string longTitle(300, '\xe4');
    ::SetWindowTextA(window.get(), longTitle.c_str());
    EXPECT_EQ(windows.Foreground()->title, longTitle.substr(0, 254));
}

TEST(Win32Desktop, BringingToFrontRestoresAMinimisedWindowAndFocusesIt) {
    PatternWindow other({600, 400, 660, 440}, "Anderes");
    PatternWindow own({300, 200, 420, 290}, "Eigenes");
    ::ShowWindow(own.get(), SW_MINIMIZE);
    ::SetForegroundWindow(other.get());
    Pump();
    ASSERT_TRUE(::IsIconic(own.get()));

    Win32Windows windows;
    windows.BringToFront(reinterpret_cast<std::uintptr_t>(own.get()));
    Pump();
    EXPECT_FALSE(::IsIconic(own.get()));
    EXPECT_EQ(::GetForegroundWindow(), own.get());

    // A window that is only behind another comes forward too.
    windows.BringToFront(reinterpret_cast<std::uintptr_t>(other.get()));
    Pump();
    EXPECT_EQ(::GetForegroundWindow(), other.get());
}

TEST(Win32Desktop, TheSimulatedShiftIsHeldUntilReleased) {
    PatternWindow focus({300, 200, 420, 290}, "Fokus");
    Win32Shell shell;
    shell.PressShift();
    EXPECT_NE(::GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
    shell.ReleaseShift();
    EXPECT_EQ(::GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
}

} // namespace
} // namespace glimmerly::platform::win32
