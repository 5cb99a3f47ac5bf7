// The fake desktop that widget tests drive: what it hands out must behave like the real one.

#include "tests/support/fake_platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

using glimmerly::Picture;
using glimmerly::Rect;
using glimmerly::testing::FakePlatform;
using glimmerly::testing::FakeScreen;
using namespace glimmerly::platform;

namespace {

TEST(FakePlatform, HandsItsPartsOutOnceAndStaysScriptable) {
    FakePlatform desktop;
    desktop.windows().foreground = WindowInfo{"Unbenannt - Editor", Rect{10, 20, 410, 320}};
    auto platform = desktop.MakePlatform();
    ASSERT_TRUE(platform->screen && platform->windows && platform->hotKeys && platform->shell &&
                platform->files);
    EXPECT_THROW(desktop.MakePlatform(), std::logic_error);

    EXPECT_EQ(platform->windows->Foreground()->title, "Unbenannt - Editor");
    desktop.windows().foreground.reset();
    EXPECT_FALSE(platform->windows->Foreground().has_value());
    EXPECT_EQ(desktop.windows().foregroundCalls, 2);
    platform->windows->BringToFront(42);
    EXPECT_EQ(desktop.windows().broughtToFront, (std::vector<std::uintptr_t>{42}));
}

TEST(FakePlatform, GrabShowsOnlyWhatLiesOnAMonitor) {
    FakePlatform desktop;
    desktop.screen().SetMonitors(
        {{Rect{0, 0, 1920, 1080}, true}, {Rect{1920, 0, 3200, 1024}, false}});
    desktop.screen().SetDesktop(FakeScreen::Pattern(3200, 1080));
    auto platform = desktop.MakePlatform();
    EXPECT_EQ(platform->screen->PrimaryHeight(), 1080);
    EXPECT_EQ(platform->screen->VirtualWidth(), 3200);
    EXPECT_EQ(platform->screen->VirtualHeight(), 1080);

    const Picture band = platform->screen->Grab(Rect{1900, 1000, 3300, 1080});
    ASSERT_EQ(band.width, 1400);
    ASSERT_EQ(band.height, 80);
    // (1900, 1000) is on the first monitor: its pattern pixel.
    EXPECT_EQ(band.At(0, 0)[0], 1900 & 255);
    EXPECT_EQ(band.At(0, 0)[1], 1000 & 255);
    EXPECT_EQ(band.At(0, 0)[2], (1900 / 256 + (1000 / 256) * 16) & 255);
    // (2000, 1010) is on the second; (2000, 1030) lies below it and (3250, 1000) right of it.
    EXPECT_EQ(band.At(100, 10)[0], 2000 & 255);
    for (const auto& [x, y] : {std::pair{100, 30}, std::pair{1350, 0}}) {
        const std::uint8_t* p = band.At(x, y);
        EXPECT_EQ(p[0] | p[1] | p[2], 0) << x << "," << y;
    }
    EXPECT_EQ(desktop.screen().grabs, (std::vector<Rect>{Rect{1900, 1000, 3300, 1080}}));
    desktop.screen().failGrab = true;
    EXPECT_THROW(platform->screen->Grab(Rect{0, 0, 10, 10}), std::runtime_error);
}

TEST(FakePlatform, HotKeysArriveOnlyWhenRegistered) {
    FakePlatform desktop;
    desktop.hotKeys().HeldElsewhere(Key::End, Control);
    auto platform = desktop.MakePlatform();
    std::vector<int> pressed;
    platform->hotKeys->SetHandler([&](int id) { pressed.push_back(id); });
    EXPECT_TRUE(platform->hotKeys->Register(101, Key::Print, NoModifier));
    EXPECT_FALSE(platform->hotKeys->Register(102, Key::End, Control));
    EXPECT_FALSE(platform->hotKeys->Register(103, Key::Print, NoModifier));
    EXPECT_TRUE(desktop.Press(101));
    EXPECT_FALSE(desktop.Press(102));
    platform->hotKeys->Unregister(101);
    EXPECT_FALSE(desktop.Press(101));
    EXPECT_EQ(pressed, (std::vector<int>{101}));
    EXPECT_EQ(desktop.hotKeys().registerCalls, (std::vector<int>{101, 102, 103}));
}

TEST(FakePlatform, ShellAndFilesRecordAndFilesAreReal) {
    FakePlatform desktop;
    auto platform = desktop.MakePlatform();
    platform->shell->PressShift();
    platform->shell->Open("http://localhost:8460/~Sitzung");
    platform->shell->ReleaseShift();
    EXPECT_EQ(desktop.shell().calls,
              (std::vector<std::string>{"PressShift", "Open http://localhost:8460/~Sitzung",
                                        "ReleaseShift"}));
    EXPECT_FALSE(desktop.shell().shiftDown);

    const std::string temp = platform->files->TempDir();
    ASSERT_EQ(temp.back(), '/');
    std::ofstream(temp + "screen.jpg") << "jpeg";
    EXPECT_EQ(platform->files->FileSizeOf(temp + "screen.jpg"), 4u);
    desktop.files().failMove = true;
    EXPECT_FALSE(platform->files->MoveFile(temp + "screen.jpg", temp + "b.jpg"));
    desktop.files().failMove = false;
    EXPECT_TRUE(platform->files->MoveFile(temp + "screen.jpg", temp + "b.jpg"));
    EXPECT_TRUE(platform->files->DeleteFile(temp + "b.jpg"));
    EXPECT_EQ(desktop.files().calls.back(), "DeleteFile " + temp + "b.jpg");
    desktop.files().failTempDir = true;
    EXPECT_THROW(platform->files->TempDir(), std::runtime_error);

    platform.reset(); // the folder goes with the fake
    EXPECT_FALSE(std::filesystem::exists(temp));
}

} // namespace
