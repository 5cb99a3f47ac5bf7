// The X11 backend against a real desktop: run under tests/desktop/harness.sh (Xvfb with two
// monitors side by side, openbox unless the NoWindowManager tests are run with --no-wm).

#include "tests/desktop/x11_desktop.h"
#include "text/cp1252.h"

#include <QApplication>
#include <QWidget>

namespace glimmerly::desktop_test {
namespace {

// ---- Screen ----

using Screen = Desktop;

TEST_F(Screen, MonitorsAreTheTwoSideBySide) {
    const std::vector<Monitor> monitors = platform_->screen->Monitors();
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0].rect, (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(monitors[1].rect, (Rect{1920, 0, 3200, 1024}));
    EXPECT_EQ(monitors[0].primary + monitors[1].primary, 1);
    EXPECT_TRUE(monitors[0].primary);
    // The band the capture grabs: all monitors wide, the primary one high.
    EXPECT_EQ(platform::PrimaryMonitorHeight(monitors), 1080);
    EXPECT_EQ(platform::MonitorUnion(monitors), (Rect{0, 0, 3200, 1080}));
}

TEST_F(Screen, GrabShowsAWindowDrawnAcrossBothMonitors) {
    // Placed exactly, across the edge between the monitors.
    OtherWindow window("Muster", "1850,100,240,120", {"--pattern", "--unmanaged"});
    ASSERT_NE(window.id(), 0u);
    Picture band;
    // The first grab may come before the server has the last paint; a few tries are allowed.
    bool shown = WaitFor([&] {
        band = platform_->screen->Grab(Rect{1840, 90, 2100, 230});
        return bool(PatternShown(band, 10, 10, 240, 120));
    });
    ASSERT_EQ(band.width, 260);
    ASSERT_EQ(band.height, 140);
    ASSERT_GE(band.stride, 260u * 3);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(PatternShown(band, 10, 10, 240, 120));

    // The whole band of the desktop, as a capture takes it.
    const Picture all = platform_->screen->Grab(Rect{0, 0, 3200, 1080});
    ASSERT_EQ(all.width, 3200);
    ASSERT_EQ(all.height, 1080);
    EXPECT_TRUE(PatternShown(all, 1850, 100, 240, 120));
}

// The root's pixels as another client reads them: 32-bit B, G, R, X rows cut to B, G, R.
PixelBytes RootPixels(OtherClient& other, int width, int height) {
    PixelBytes bgr;
    auto* reply = xcb_get_image_reply(
        other.get(),
        xcb_get_image(other.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, other.root(), 0, 0,
                      static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), ~0u),
        nullptr);
    if (reply == nullptr)
        return bgr;
    const std::uint8_t* data = xcb_get_image_data(reply);
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    if (static_cast<std::size_t>(xcb_get_image_data_length(reply)) >= pixels * 4) {
        for (std::size_t i = 0; i < pixels; ++i)
            bgr.insert(bgr.end(), data + 4 * i, data + 4 * i + 3);
    }
    std::free(reply);
    return bgr;
}

// The whole band is written pixel by pixel into memory that is not cleared first: every byte
// must be the screen's, none left over from what the memory held before.
TEST_F(Screen, WholeDesktopIsTheServersPixelsToTheLastByte) {
    OtherWindow window("Muster", "1700,900,400,180", {"--pattern", "--unmanaged"});
    ASSERT_NE(window.id(), 0u);
    OtherClient other;
    bool same = false;
    ASSERT_TRUE(WaitFor([&] {
        {
            // Memory of the band's size full of a value the screen does not show, handed back
            // to the allocator just before the grab asks for as much.
            PixelBytes stale(3200u * 1080u * 3u, 0xA5);
            std::fill(stale.begin(), stale.end(), 0xA5);
        }
        const Picture band = platform_->screen->Grab(Rect{0, 0, 3200, 1080});
        if (band.width != 3200 || band.height != 1080 || band.stride != 3200u * 3u ||
            !PatternShown(band, 1700, 900, 400, 180))
            return false;
        same = band.pixels == RootPixels(other, 3200, 1080);
        return same;
    }));
    EXPECT_TRUE(same);
}

TEST_F(Screen, PartsOffTheScreenAreBlack) {
    OtherWindow window("Muster", "3100,980,100,100", {"--pattern", "--unmanaged"});
    ASSERT_NE(window.id(), 0u);
    Picture band;
    // Overhangs the right and bottom edges of the root by 100 pixels, and starts left of it.
    ASSERT_TRUE(WaitFor([&] {
        band = platform_->screen->Grab(Rect{3000, 900, 3300, 1180});
        return bool(PatternShown(band, 100, 80, 100, 100));
    }));
    for (int y = 0; y < band.height; ++y) {
        for (int x = 0; x < band.width; ++x) {
            if (x >= 200 || y >= 180) {
                const std::uint8_t* p = band.At(x, y);
                ASSERT_EQ(p[0] | p[1] | p[2], 0) << "at " << x << "," << y;
            }
        }
    }
    const Picture outside = platform_->screen->Grab(Rect{-500, -300, -100, -200});
    ASSERT_EQ(outside.width, 400);
    ASSERT_EQ(outside.height, 100);
    for (std::uint8_t byte : outside.pixels) {
        ASSERT_EQ(byte, 0);
    }
    EXPECT_TRUE(platform_->screen->Grab(Rect{10, 10, 10, 20}).Empty());
}

// ---- Windows (with openbox) ----

using Windows = Desktop;

TEST_F(Windows, ReadsTitleAndOuterRectangleOfAnotherProgramsWindow) {
    OtherWindow editor("Unbenannt - Editor", "300,200,400,250");
    ASSERT_NE(editor.id(), 0u);
    ASSERT_TRUE(WaitFor([&] {
        return Title(platform_->windows->Foreground()) == "Unbenannt - Editor";
    })) << Title(platform_->windows->Foreground());
    const auto info = platform_->windows->Foreground();
    ASSERT_TRUE(info);
    const Rect expected = OuterRectByTools(editor.id());
    EXPECT_EQ(info->outer, expected);
    // openbox draws a title bar: the outer rectangle is taller than the client area.
    EXPECT_GT(info->outer.Height(), 250);
    EXPECT_GE(info->outer.Width(), 400);
}

TEST_F(Windows, TitlesBecomeWindows1252AndAreCutAt254Characters) {
    {
        OtherWindow window(QString::fromUtf8("Bücher – Übersicht → Kasse"), "200,200,300,200");
        ASSERT_TRUE(WaitFor([&] {
            return platform_->windows->Foreground().has_value() &&
                   Title(platform_->windows->Foreground()) != "<none>" &&
                   Title(platform_->windows->Foreground()).size() > 3;
        }));
        EXPECT_EQ(Title(platform_->windows->Foreground()),
                  glimmerly::cp1252::FromUtf8("Bücher – Übersicht ? Kasse"));
    }
    OtherWindow longTitle(QString(300, 'A'), "200,200,300,200");
    ASSERT_TRUE(WaitFor([&] { return Title(platform_->windows->Foreground()).front() == 'A'; }));
    EXPECT_EQ(Title(platform_->windows->Foreground()), std::string(254, 'A'));

    // A program that only sets the old Latin-1 WM_NAME.
    OtherClient other;
    xcb_delete_property(other.get(), longTitle.id(), other.Atom("_NET_WM_NAME"));
    const char latin1[] = "Gr\xfc\xdf"
                          "e aus K\xf6ln";
    xcb_change_property(other.get(), XCB_PROP_MODE_REPLACE, longTitle.id(), XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, sizeof latin1 - 1, latin1);
    xcb_flush(other.get());
    EXPECT_TRUE(WaitFor([&] { return Title(platform_->windows->Foreground()) == latin1; }))
        << Title(platform_->windows->Foreground());
}

TEST_F(Windows, NoForegroundWindowIsAClearCase) {
    OtherWindow window("Gleich weg", "400,300,200,100");
    ASSERT_TRUE(WaitFor([&] { return Title(platform_->windows->Foreground()) == "Gleich weg"; }));
    window.Kill();
    EXPECT_TRUE(WaitFor([&] { return !platform_->windows->Foreground().has_value(); }))
        << Title(platform_->windows->Foreground());

    // Stale or odd values of _NET_ACTIVE_WINDOW: a window that no longer exists, and the window
    // manager's own hidden check window.
    OtherClient other;
    const xcb_atom_t active = other.Atom("_NET_ACTIVE_WINDOW");
    auto setActive = [&](xcb_window_t value) {
        xcb_change_property(other.get(), XCB_PROP_MODE_REPLACE, other.root(), active,
                            XCB_ATOM_WINDOW, 32, 1, &value);
        xcb_flush(other.get());
        QThread::msleep(50);
    };
    setActive(0x3fffffe);
    EXPECT_FALSE(platform_->windows->Foreground().has_value());
    auto* check = xcb_get_property_reply(other.get(),
                                         xcb_get_property(other.get(), 0, other.root(),
                                                          other.Atom("_NET_SUPPORTING_WM_CHECK"),
                                                          XCB_ATOM_WINDOW, 0, 1),
                                         nullptr);
    ASSERT_NE(check, nullptr);
    ASSERT_EQ(xcb_get_property_value_length(check), 4);
    setActive(*static_cast<xcb_window_t*>(xcb_get_property_value(check)));
    std::free(check);
    EXPECT_FALSE(platform_->windows->Foreground().has_value());
    setActive(XCB_WINDOW_NONE);
}

TEST_F(Windows, BringToFrontRestoresAndActivatesOurWindow) {
    QWidget own;
    own.setWindowTitle("Glimmerly 3.2");
    own.setGeometry(600, 400, 300, 200);
    own.show();
    ASSERT_TRUE(
        WaitFor([&] { return Title(platform_->windows->Foreground()) == "Glimmerly 3.2"; }));

    OtherWindow other("Anderes Programm", "100,100,400,300");
    ASSERT_TRUE(
        WaitFor([&] { return Title(platform_->windows->Foreground()) == "Anderes Programm"; }));
    platform_->windows->BringToFront(own.winId());
    EXPECT_TRUE(WaitFor([&] { return Title(platform_->windows->Foreground()) == "Glimmerly 3.2"; }))
        << Title(platform_->windows->Foreground());

    own.showMinimized();
    ASSERT_TRUE(
        WaitFor([&] { return Title(platform_->windows->Foreground()) != "Glimmerly 3.2"; }));
    platform_->windows->BringToFront(own.winId());
    EXPECT_TRUE(WaitFor([&] { return Title(platform_->windows->Foreground()) == "Glimmerly 3.2"; }))
        << Title(platform_->windows->Foreground());
    // Qt learns of the restore from the window manager's state change, a moment later.
    EXPECT_TRUE(WaitFor([&] { return !own.isMinimized(); }));
}

// ---- Windows without a window manager ----

using NoWindowManager = Desktop;

TEST_F(NoWindowManager, FocusWindowElseTheWindowUnderThePointer) {
    ASSERT_EQ(RunTool("xdotool", {"mousemove", "3000", "1000"}), 0);
    EXPECT_FALSE(platform_->windows->Foreground().has_value());

    OtherWindow window("Ohne Fenstermanager", "100,150,300,200");
    ASSERT_NE(window.id(), 0u);
    ASSERT_EQ(RunTool("xdotool", {"mousemove", "200", "250"}), 0);
    const auto info = platform_->windows->Foreground();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->title, "Ohne Fenstermanager");
    EXPECT_EQ(info->outer, (Rect{100, 150, 400, 350}));

    // Once a client sets the focus, the pointer no longer matters.
    ASSERT_EQ(RunTool("xdotool", {"windowfocus", "--sync", QString::number(window.id())}), 0);
    ASSERT_EQ(RunTool("xdotool", {"mousemove", "3000", "1000"}), 0);
    EXPECT_EQ(Title(platform_->windows->Foreground()), "Ohne Fenstermanager");
}

} // namespace
} // namespace glimmerly::desktop_test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    glimmerly::desktop_test::HelperProgram() =
        QCoreApplication::applicationDirPath() + "/glimmerly_desktop_window";
    return RUN_ALL_TESTS();
}
