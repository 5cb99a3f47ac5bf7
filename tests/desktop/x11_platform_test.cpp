// The X11 backend against a real desktop: run under tests/desktop/harness.sh (Xvfb with two
// monitors side by side, openbox unless the NoWindowManager tests are run with --no-wm).

#include "platform/cp1252.h"
#include "platform/x11/x11_platform.h"
#include "tests/desktop/pattern.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

using glimmerly::Picture;
using glimmerly::Rect;
using glimmerly::desktop_test::PatternAt;
using namespace glimmerly::platform;

namespace {

QString g_helper; // path of glimmerly_desktop_window, from the command line

bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return true;
}

// Keeps processing events for a while (to see that nothing more arrives).
void Settle(int ms) {
    WaitFor([] { return false; }, ms);
}

int RunTool(const QString& program, const QStringList& args) {
    return QProcess::execute(program, args);
}

QString Output(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(5000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A window of another process; killed when this goes.
class OtherWindow {
public:
    OtherWindow(const QString& title, const QString& geometry, const QStringList& extra = {}) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(g_helper, QStringList{"--caption", title, "--rect", geometry} + extra);
        WaitFor(
            [this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
            5000);
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (line.startsWith("ready ")) {
            id_ = static_cast<xcb_window_t>(line.mid(6).toULongLong());
        }
    }
    ~OtherWindow() { Kill(); }
    void Kill() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    xcb_window_t id() const { return id_; }

private:
    QProcess process_;
    xcb_window_t id_ = 0;
};

// A client connection of its own, as another program would have.
class OtherClient {
public:
    OtherClient() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(c_); }
    xcb_connection_t* get() const { return c_; }
    xcb_window_t root() const { return root_; }

    // Grabs keycode+mask on the root; false on an error such as BadAccess.
    bool GrabKey(xcb_keycode_t code, std::uint16_t mask) {
        auto cookie = xcb_grab_key_checked(c_, 1, root_, mask, code, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(c_, cookie);
        std::free(error);
        return error == nullptr;
    }
    xcb_atom_t Atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return atom;
    }
    xcb_keycode_t Keycode(std::uint32_t keysym) {
        const xcb_setup_t* setup = xcb_get_setup(c_);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* map = xcb_get_keyboard_mapping_reply(
            c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, static_cast<std::uint8_t>(count)),
            nullptr);
        xcb_keycode_t found = 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        for (int i = 0; i < count * map->keysyms_per_keycode && found == 0; ++i) {
            if (syms[i] == keysym) {
                found =
                    static_cast<xcb_keycode_t>(setup->min_keycode + i / map->keysyms_per_keycode);
            }
        }
        std::free(map);
        return found;
    }
    bool KeyDown(xcb_keycode_t code) {
        auto* keys = xcb_query_keymap_reply(c_, xcb_query_keymap(c_), nullptr);
        const bool down = (keys->keys[code / 8] >> (code % 8)) & 1;
        std::free(keys);
        return down;
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_;
};

std::string Title(const std::optional<WindowInfo>& info) {
    return info ? info->title : "<none>";
}

// What the X tools say of a window: its outer rectangle, border and frame included.
Rect OuterRectByTools(xcb_window_t id) {
    const QString info = Output("xwininfo", {"-id", QString::number(id)});
    auto number = [&](const char* label) {
        QRegularExpression re(QString(label) + R"(:\s+(-?\d+))");
        return re.match(info).captured(1).toInt();
    };
    const int x = number("Absolute upper-left X");
    const int y = number("Absolute upper-left Y");
    const int border = number("Border width");
    const int w = number("Width");
    const int h = number("Height");
    Rect outer{x - border, y - border, x + w + border, y + h + border};
    const QString extents = Output("xprop", {"-id", QString::number(id), "_NET_FRAME_EXTENTS"});
    QRegularExpression re(R"(=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+))");
    if (auto m = re.match(extents); m.hasMatch()) {
        outer.Left -= m.captured(1).toInt();
        outer.Right += m.captured(2).toInt();
        outer.Top -= m.captured(3).toInt();
        outer.Bottom += m.captured(4).toInt();
    }
    return outer;
}

::testing::AssertionResult PatternShown(const Picture& picture, int offsetX, int offsetY, int width,
                                        int height) {
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = picture.At(offsetX + x, offsetY + y);
            const auto expected = PatternAt(x, y);
            if (p[0] != expected.blue || p[1] != expected.green || p[2] != expected.red) {
                return ::testing::AssertionFailure()
                       << "pattern pixel " << x << "," << y << " differs: got B,G,R " << int(p[0])
                       << "," << int(p[1]) << "," << int(p[2]);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

class Desktop : public ::testing::Test {
protected:
    void SetUp() override { platform_ = CreateX11Platform(); }
    void TearDown() override { platform_.reset(); }
    std::unique_ptr<Platform> platform_;
};

// ---- Screen ----

using Screen = Desktop;

TEST_F(Screen, MonitorsAreTheTwoSideBySide) {
    const std::vector<Monitor> monitors = platform_->screen->Monitors();
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0].rect, (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(monitors[1].rect, (Rect{1920, 0, 3200, 1024}));
    EXPECT_EQ(monitors[0].primary + monitors[1].primary, 1);
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(platform_->screen->PrimaryHeight(), 1080);
    EXPECT_EQ(platform_->screen->VirtualWidth(), 3200);
    EXPECT_EQ(platform_->screen->VirtualHeight(), 1080);
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

// ---- Hot keys ----

class HotKeys : public Desktop {
protected:
    void SetUp() override {
        Desktop::SetUp();
        platform_->hotKeys->SetHandler([this](int id) { pressed_.push_back(id); });
    }
    bool Key(const QString& keys) { return RunTool("xdotool", {"key", keys}) == 0; }
    bool Pressed(std::vector<int> ids) {
        return WaitFor([&] { return pressed_ == ids; }, 2000);
    }
    std::vector<int> pressed_;
};

TEST_F(HotKeys, PrintAndCtrlEndReachTheirIdsWhileAnotherWindowHasTheFocus) {
    OtherWindow editor("Unbenannt - Editor", "300,200,400,250");
    ASSERT_TRUE(
        WaitFor([&] { return Title(platform_->windows->Foreground()) == "Unbenannt - Editor"; }));
    ASSERT_TRUE(platform_->hotKeys->Register(101, Key::Print, NoModifier));
    ASSERT_TRUE(platform_->hotKeys->Register(102, Key::End, Control));

    ASSERT_TRUE(Key("Print"));
    EXPECT_TRUE(Pressed({101}));
    ASSERT_TRUE(Key("ctrl+End"));
    EXPECT_TRUE(Pressed({101, 102}));
    // End alone and Print with Ctrl are other keys.
    ASSERT_TRUE(Key("End"));
    ASSERT_TRUE(Key("ctrl+Print"));
    Settle(300);
    EXPECT_EQ(pressed_, (std::vector<int>{101, 102}));

    // Caps Lock and Num Lock do not change the hot keys.
    ASSERT_TRUE(Key("Caps_Lock"));
    ASSERT_TRUE(Key("Num_Lock"));
    ASSERT_TRUE(Key("Print"));
    ASSERT_TRUE(Key("ctrl+End"));
    EXPECT_TRUE(Pressed({101, 102, 101, 102}));
    ASSERT_TRUE(Key("Caps_Lock"));
    ASSERT_TRUE(Key("Num_Lock"));
}

TEST_F(HotKeys, AHeldKeyIsOnePress) {
    ASSERT_TRUE(platform_->hotKeys->Register(101, Key::Print, NoModifier));
    ASSERT_EQ(RunTool("xdotool", {"keydown", "Print", "sleep", "1.2", "keyup", "Print"}), 0);
    EXPECT_TRUE(Pressed({101}));
    Settle(300);
    EXPECT_EQ(pressed_, (std::vector<int>{101}));
}

TEST_F(HotKeys, KeyHeldByAnotherProgramIsRefusedAndNothingIsKept) {
    OtherClient holder;
    const xcb_keycode_t print = holder.Keycode(0xff61);
    ASSERT_NE(print, 0);
    // Holding only the Caps Lock variant is enough to make the registration fail.
    ASSERT_TRUE(holder.GrabKey(print, XCB_MOD_MASK_LOCK));
    EXPECT_FALSE(platform_->hotKeys->Register(101, Key::Print, NoModifier));
    // What the failed registration had grabbed meanwhile was given back.
    OtherClient third;
    EXPECT_TRUE(third.GrabKey(print, 0));
    xcb_ungrab_key(third.get(), print, third.root(), 0);
    xcb_flush(third.get());
    ASSERT_TRUE(Key("Print"));
    Settle(200);
    EXPECT_TRUE(pressed_.empty());

    xcb_ungrab_key(holder.get(), print, holder.root(), XCB_MOD_MASK_LOCK);
    xcb_flush(holder.get());
    QThread::msleep(50);
    ASSERT_TRUE(platform_->hotKeys->Register(101, Key::Print, NoModifier));
    // Now it is ours, and another program's grab fails.
    EXPECT_FALSE(third.GrabKey(print, 0));
    // The same key under a second id of ours is refused too.
    EXPECT_FALSE(platform_->hotKeys->Register(103, Key::Print, NoModifier));
}

TEST_F(HotKeys, UnregisterGivesTheKeyBack) {
    ASSERT_TRUE(platform_->hotKeys->Register(102, Key::End, Control));
    platform_->hotKeys->Unregister(102);
    platform_->hotKeys->Unregister(999); // unknown ids are ignored
    ASSERT_TRUE(Key("ctrl+End"));
    Settle(300);
    EXPECT_TRUE(pressed_.empty());
    OtherClient other;
    EXPECT_TRUE(other.GrabKey(other.Keycode(0xff57), XCB_MOD_MASK_CONTROL));

    // Destroying the platform releases its keys as well.
    ASSERT_TRUE(platform_->hotKeys->Register(101, Key::Print, NoModifier));
    platform_.reset();
    EXPECT_TRUE(other.GrabKey(other.Keycode(0xff61), 0));
}

// ---- Shell ----

using Shell = Desktop;

TEST_F(Shell, ShiftIsPressedAndReleased) {
    OtherClient other;
    const xcb_keycode_t shift = other.Keycode(0xffe1);
    ASSERT_NE(shift, 0);
    platform_->shell->PressShift();
    EXPECT_TRUE(WaitFor([&] { return other.KeyDown(shift); }));
    platform_->shell->ReleaseShift();
    EXPECT_TRUE(WaitFor([&] { return !other.KeyDown(shift); }));
}

TEST_F(Shell, OpenHandsTheAddressToTheDesktopsOpener) {
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString log = bin.filePath("opened");
    QFile opener(bin.filePath("xdg-open"));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write(QString("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '%1'\n").arg(log).toUtf8());
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", (bin.path() + ":" + qgetenv("PATH")).toUtf8());

    platform_->shell->Open("http://localhost:8460/~Sitzung1");
    ASSERT_TRUE(WaitFor([&] { return QFile(log).size() > 0; }));
    QFile result(log);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll().trimmed().toStdString(), "http://localhost:8460/~Sitzung1");
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    g_helper = QCoreApplication::applicationDirPath() + "/glimmerly_desktop_window";
    return RUN_ALL_TESTS();
}
