// The X11 backend's hot keys and shell on a real desktop (tests/desktop/harness.sh).

#include "tests/desktop/x11_desktop.h"

#include <QFile>
#include <QTemporaryDir>

namespace glimmerly::desktop_test {
namespace {

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
} // namespace glimmerly::desktop_test
