// The desktop's sizes as the program reads them from the monitors, and the fake desktop's files
// failing the way real files fail. (Whether the fake keeps the X11 backend's rules for keys,
// shell and grabs is checked on a test desktop: platform_contract_test.cpp.)

#include "platform/posix/posix_files.h"
#include "tests/support/fake_platform.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

using glimmerly::Rect;
using glimmerly::testing::FakePlatform;
using namespace glimmerly::platform;

namespace {

// The band the capture grabs is as wide as all monitors together and as high as the primary
// one, wherever the fake lists it; the program reads both from the list the screen hands out.
TEST(ScreenSizes, FollowTheMonitorsWhereverThePrimaryIsListed) {
    FakePlatform desktop;
    desktop.screen().SetMonitors({{Rect{-1280, 0, 0, 1024}, false},
                                  {Rect{0, 0, 1920, 1080}, true},
                                  {Rect{0, -1080, 1920, 0}, false}});
    auto platform = desktop.MakePlatform();
    EXPECT_EQ(PrimaryMonitorHeight(platform->screen->Monitors()), 1080);
    EXPECT_EQ(MonitorUnion(platform->screen->Monitors()), (Rect{-1280, -1080, 1920, 1080}));

    // No monitor marked primary: the first one counts; none at all: nothing.
    desktop.screen().SetMonitors({{Rect{0, 0, 1280, 1024}, false}, {Rect{1280, 0, 3200, 1080}}});
    EXPECT_EQ(PrimaryMonitorHeight(platform->screen->Monitors()), 1024);
    EXPECT_EQ(MonitorUnion(platform->screen->Monitors()), (Rect{0, 0, 3200, 1080}));
    desktop.screen().SetMonitors({});
    EXPECT_EQ(PrimaryMonitorHeight(platform->screen->Monitors()), 0);
    EXPECT_EQ(MonitorUnion(platform->screen->Monitors()).Width(), 0);
}

// The code under test cannot tell a move the fake refuses from one the system refuses: false,
// and the file is still where it was, whole. A temporary folder that cannot be had fails in
// both with the same kind of error.
TEST(FakeFiles, RefuseAMoveTheWayRealFilesDo) {
    FakePlatform desktop;
    auto platform = desktop.MakePlatform();
    glimmerly::testing::TempDir dir;
    PosixFiles real("", dir.Root().string());

    const std::string temp = platform->files->TempDir();
    struct Case {
        Files& files;
        std::string from, to;
    };
    std::ofstream(temp + "screen.jpg") << "jpeg";
    std::ofstream(dir.Path("screen.jpg")) << "jpeg";
    desktop.files().failMove = true;
    const Case cases[] = {
        {*platform->files, temp + "screen.jpg", temp + "saved.jpg"},
        {real, dir.Path("screen.jpg"), dir.Path("missing/saved.jpg")},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.files.MoveFile(c.from, c.to));
        EXPECT_EQ(std::filesystem::file_size(c.from), 4u);
        EXPECT_FALSE(std::filesystem::exists(c.to));
    }
    desktop.files().failMove = false;
    EXPECT_TRUE(platform->files->MoveFile(temp + "screen.jpg", temp + "saved.jpg"));
    EXPECT_FALSE(std::filesystem::exists(temp + "screen.jpg"));

    desktop.files().failTempDir = true;
    EXPECT_THROW(platform->files->TempDir(), std::runtime_error);
    PosixFiles nowhere("", dir.Path("not/there"));
    EXPECT_THROW(nowhere.TempDir(), std::runtime_error);
}

} // namespace
