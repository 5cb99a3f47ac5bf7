// The fake desktop that the app, upload and editor tests drive keeps the rules of the real one
// where those tests rely on them: a hot key held by another program is refused, a key arrives
// only while it is registered, the shell's Shift is down from press to release and an address
// reaches the opener, and a grab shows the screen with black beyond it. Every case runs once on
// the fake and once on the X11 backend of the test desktop (tests/desktop/harness.sh), through a
// driver that does on each what the user or another program would do.

#include "tests/desktop/x11_desktop.h"
#include "tests/support/fake_platform.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace glimmerly::desktop_test {
namespace {

class Driver {
public:
    virtual ~Driver() = default;
    virtual Platform& Desktop() = 0;
    // Another program takes Print (no modifiers) for itself, or lets it go.
    virtual void TakePrintElsewhere() = 0;
    virtual void LetPrintGo() = 0;
    // The user presses these keys one after the other ("Print", "ctrl+End").
    virtual void Press(const std::vector<std::string>& keys) = 0;
    // Lets the desktop work until `done` holds; false when it does not within a few seconds.
    virtual bool Until(const std::function<bool()>& done) = 0;
    virtual bool ShiftDown() = 0;
    virtual std::vector<std::string> Opened() = 0;
    // The pattern of tests/desktop/pattern.h, 100 × 100, at desktop (left, top); returns once
    // the screen shows it.
    virtual void ShowPattern(int left, int top) = 0;
    // The program registered `id` for this key.
    virtual void Registered(int, Key, unsigned) {}
};

class FakeDriver : public Driver {
public:
    FakeDriver() : platform_(fake_.MakePlatform()) {
        fake_.screen().SetMonitors({{Rect{0, 0, 1920, 1080}, true}, {Rect{1920, 0, 3200, 1024}}});
        fake_.screen().SetDesktop(Picture(3200, 1080));
    }
    Platform& Desktop() override { return *platform_; }
    void TakePrintElsewhere() override { fake_.hotKeys().HeldElsewhere(Key::Print, NoModifier); }
    void LetPrintGo() override { fake_.hotKeys().ReleasedElsewhere(Key::Print, NoModifier); }
    void Press(const std::vector<std::string>& keys) override {
        // A key press goes to every id the program ever registered that key under; the fake
        // decides which of them it lets through.
        for (const std::string& name : keys) {
            const auto key = name == "Print" ? std::pair{Key::Print, unsigned{NoModifier}}
                                             : std::pair{Key::End, unsigned{Control}};
            for (const auto& [id, combination] : everRegistered_)
                if (combination == key)
                    fake_.Press(id);
        }
    }
    bool Until(const std::function<bool()>& done) override { return done(); }
    bool ShiftDown() override { return fake_.shell().shiftDown; }
    std::vector<std::string> Opened() override { return fake_.shell().opened; }
    void ShowPattern(int left, int top) override {
        Picture pattern(100, 100);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                const Rgb rgb = PatternAt(x, y);
                std::uint8_t* p = pattern.At(x, y);
                p[0] = rgb.blue;
                p[1] = rgb.green;
                p[2] = rgb.red;
            }
        fake_.screen().SetDesktop(std::move(pattern), left, top);
    }
    void Registered(int id, Key key, unsigned modifiers) override {
        everRegistered_[id] = {key, modifiers};
    }

private:
    testing::FakePlatform fake_;
    std::unique_ptr<Platform> platform_;
    std::map<int, std::pair<Key, unsigned>> everRegistered_;
};

class X11Driver : public Driver {
public:
    X11Driver() : platform_(CreateX11Platform()) {
        // The desktop's opener, replaced by one that notes the addresses it is given.
        QFile script(bin_.filePath("xdg-open"));
        script.open(QIODevice::WriteOnly);
        script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '%1'\n")
                         .arg(bin_.filePath("opened"))
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        path_ = qgetenv("PATH");
        qputenv("PATH", (bin_.path() + ":" + path_).toUtf8());
    }
    ~X11Driver() override {
        qputenv("PATH", path_);
        platform_.reset();
    }
    Platform& Desktop() override { return *platform_; }
    void TakePrintElsewhere() override {
        const xcb_keycode_t print = other_.Keycode(0xff61);
        // Holding only the Caps Lock variant is enough to keep it from us.
        ASSERT_TRUE(other_.GrabKey(print, XCB_MOD_MASK_LOCK));
    }
    void LetPrintGo() override {
        xcb_ungrab_key(other_.get(), other_.Keycode(0xff61), other_.root(), XCB_MOD_MASK_LOCK);
        // A round trip: the server has acted on the ungrab before we go on.
        std::free(
            xcb_get_input_focus_reply(other_.get(), xcb_get_input_focus(other_.get()), nullptr));
    }
    void Press(const std::vector<std::string>& keys) override {
        for (const std::string& key : keys)
            ASSERT_EQ(RunTool("xdotool", {"key", QString::fromStdString(key)}), 0) << key;
    }
    bool Until(const std::function<bool()>& done) override { return WaitFor(done, 5000); }
    bool ShiftDown() override { return other_.KeyDown(other_.Keycode(0xffe1)); }
    std::vector<std::string> Opened() override {
        QFile log(bin_.filePath("opened"));
        std::vector<std::string> lines;
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray& line : log.readAll().split('\n'))
                if (!line.isEmpty())
                    lines.push_back(line.toStdString());
        return lines;
    }
    void ShowPattern(int left, int top) override {
        window_ = std::make_unique<OtherWindow>("Muster",
                                                QStringLiteral("%1,%2,100,100").arg(left).arg(top),
                                                QStringList{"--pattern", "--unmanaged"});
        ASSERT_NE(window_->id(), 0u);
        ASSERT_TRUE(WaitFor([&] {
            return bool(PatternShown(
                platform_->screen->Grab(Rect{left, top, left + 100, top + 100}), 0, 0, 100, 100));
        }));
    }

private:
    std::unique_ptr<Platform> platform_;
    OtherClient other_;
    QTemporaryDir bin_;
    QByteArray path_;
    std::unique_ptr<OtherWindow> window_;
};

class PlatformContract : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (std::string(GetParam()) == "fake")
            driver_ = std::make_unique<FakeDriver>();
        else
            driver_ = std::make_unique<X11Driver>();
        desktop().hotKeys->SetHandler([this](int id) { pressed_.push_back(id); });
    }
    void TearDown() override { driver_.reset(); }
    Platform& desktop() { return driver_->Desktop(); }
    bool Register(int id, Key key, unsigned modifiers) {
        driver_->Registered(id, key, modifiers);
        return desktop().hotKeys->Register(id, key, modifiers);
    }
    // Presses the keys and then Ctrl+End, registered under 102, and waits for that press: a
    // press of the keys before it that came through at all has come through by then.
    std::vector<int> PressedAfter(const std::vector<std::string>& keys) {
        const std::size_t before = pressed_.size();
        std::vector<std::string> all = keys;
        all.push_back("ctrl+End");
        driver_->Press(all);
        EXPECT_TRUE(driver_->Until([&] {
            return pressed_.size() > before && pressed_.back() == 102;
        })) << "Ctrl+End did not come through";
        return std::vector<int>(pressed_.begin() + static_cast<long>(before), pressed_.end());
    }

    std::unique_ptr<Driver> driver_;
    std::vector<int> pressed_;
};

TEST_P(PlatformContract, AKeyHeldElsewhereIsRefusedUntilItIsLetGo) {
    driver_->TakePrintElsewhere();
    EXPECT_FALSE(Register(101, Key::Print, NoModifier));
    ASSERT_TRUE(Register(102, Key::End, Control));
    EXPECT_EQ(PressedAfter({"Print"}), (std::vector<int>{102}));

    driver_->LetPrintGo();
    EXPECT_TRUE(Register(101, Key::Print, NoModifier));
    // The same key under a second id of ours is refused.
    EXPECT_FALSE(Register(103, Key::Print, NoModifier));
    EXPECT_EQ(PressedAfter({"Print"}), (std::vector<int>{101, 102}));
}

TEST_P(PlatformContract, AKeyArrivesOnlyWhileRegistered) {
    ASSERT_TRUE(Register(102, Key::End, Control));
    EXPECT_EQ(PressedAfter({"Print"}), (std::vector<int>{102}));
    ASSERT_TRUE(Register(101, Key::Print, NoModifier));
    EXPECT_EQ(PressedAfter({"Print", "Print"}), (std::vector<int>{101, 101, 102}));
    desktop().hotKeys->Unregister(101);
    EXPECT_EQ(PressedAfter({"Print"}), (std::vector<int>{102}));
}

TEST_P(PlatformContract, ShiftIsDownFromPressToReleaseAndAddressesReachTheOpener) {
    desktop().shell->PressShift();
    EXPECT_TRUE(driver_->Until([&] { return driver_->ShiftDown(); }));
    desktop().shell->ReleaseShift();
    EXPECT_TRUE(driver_->Until([&] { return !driver_->ShiftDown(); }));
    desktop().shell->Open("http://localhost:8460/~Sitzung1");
    EXPECT_TRUE(driver_->Until([&] { return !driver_->Opened().empty(); }));
    EXPECT_EQ(driver_->Opened(), (std::vector<std::string>{"http://localhost:8460/~Sitzung1"}));
}

TEST_P(PlatformContract, AGrabShowsTheScreenAndBlackBeyondIt) {
    // At the lower left corner of the desktop; the band reaches 100 pixels beyond its left and
    // bottom edges.
    driver_->ShowPattern(0, 980);
    const Picture band = desktop().screen->Grab(Rect{-100, 900, 200, 1180});
    ASSERT_EQ(band.width, 300);
    ASSERT_EQ(band.height, 280);
    EXPECT_TRUE(PatternShown(band, 100, 80, 100, 100));
    for (int y = 0; y < band.height; ++y)
        for (int x = 0; x < band.width; ++x)
            if (x < 100 || y >= 180) {
                const std::uint8_t* p = band.At(x, y);
                ASSERT_EQ(p[0] | p[1] | p[2], 0) << "at " << x << "," << y;
            }
    EXPECT_TRUE(desktop().screen->Grab(Rect{10, 10, 10, 20}).Empty());
}

INSTANTIATE_TEST_SUITE_P(FakeAndX11, PlatformContract, ::testing::Values("fake", "x11"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace glimmerly::desktop_test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    glimmerly::desktop_test::HelperProgram() = QStringLiteral(GLIMMERLY_DESKTOP_WINDOW);
    return RUN_ALL_TESTS();
}
