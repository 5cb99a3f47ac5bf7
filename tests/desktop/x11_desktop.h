// What the X11 desktop tests share: waiting while Qt's events run, the X tools, a window of
// another process, a client connection of another program and the backend per test.
#pragma once

#include "platform/x11/x11_platform.h"
#include "tests/desktop/pattern.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

namespace glimmerly::desktop_test {

using glimmerly::Picture;
using glimmerly::Rect;
using namespace glimmerly::platform;

// Path of glimmerly_desktop_window, set by main() next to the test program.
inline QString& HelperProgram() {
    static QString path;
    return path;
}

inline bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
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
inline void Settle(int ms) {
    WaitFor([] { return false; }, ms);
}

inline int RunTool(const QString& program, const QStringList& args) {
    return QProcess::execute(program, args);
}

inline QString Output(const QString& program, const QStringList& args) {
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
        process_.start(HelperProgram(),
                       QStringList{"--caption", title, "--rect", geometry} + extra);
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

inline std::string Title(const std::optional<WindowInfo>& info) {
    return info ? info->title : "<none>";
}

// What the X tools say of a window: its outer rectangle, border and frame included.
inline Rect OuterRectByTools(xcb_window_t id) {
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

inline ::testing::AssertionResult PatternShown(const Picture& picture, int offsetX, int offsetY,
                                               int width, int height) {
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

} // namespace glimmerly::desktop_test
