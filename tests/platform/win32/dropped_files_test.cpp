// The paths of a drop as the shell hands them over: a DROPFILES block in global memory, read
// back as UTF-8 whole, also beyond MAX_PATH and outside every ANSI code page.

#include "platform/win32/dropped_files.h"

#include "tests/platform/win32/drop_helpers.h"

#include <gtest/gtest.h>

namespace glimmerly::platform::win32 {
namespace {

using testing::MakeDrop;

TEST(Win32DroppedPaths, EveryPathArrivesWholeAsUtf8) {
    const std::string longPath =
        "C:\\" + std::string(40, 'x') + "\\" + std::string(230, 'y') + "\\Urlaub am See.jpg";
    ASSERT_GT(longPath.size(), 260u);
    const std::vector<std::string> paths = {"D:\\Bilder\\Ωμέγα.jpg", longPath,
                                            "\\\\server\\freigabe\\日本語の写真.bmp",
                                            "C:\\Bilder\\Größe ½.jpg"};
    HDROP drop = MakeDrop(paths);
    EXPECT_EQ(DroppedPaths(drop), paths);
    ::DragFinish(drop);
}

} // namespace
} // namespace glimmerly::platform::win32
