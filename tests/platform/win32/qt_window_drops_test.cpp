// Dropped files on a real Qt window under wine: Qt gives each top-level window an OLE drop target,
// which would take every drop; once the window is armed, WM_DROPFILES reaches the handler through
// Qt's own event loop.

#include "platform/win32/win32_file_drops.h"

#include "tests/platform/win32/drop_helpers.h"
#include "tests/platform/win32/qt_spin.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

namespace glimmerly::platform::win32 {
namespace {

using Paths = std::vector<std::string>;

using testing::Spin;

TEST(Win32WindowDrops, AnArmedQtWindowTakesItsDropsThroughTheMessage) {
    QWidget window;
    window.resize(240, 120);
    window.show();
    Spin();
    const auto hwnd = reinterpret_cast<HWND>(window.internalWinId());
    ASSERT_NE(hwnd, nullptr);
    testing::RefusingTarget target;
    EXPECT_EQ(::RegisterDragDrop(hwnd, &target), DRAGDROP_E_ALREADYREGISTERED) << "Qt's own";

    std::vector<Paths> drops;
    Win32FileDrops filter([&](const Paths& paths) { drops.push_back(paths); });
    filter.Accept(reinterpret_cast<std::uintptr_t>(hwnd), true);
    EXPECT_EQ(::RegisterDragDrop(hwnd, &target), S_OK) << "Qt's target is gone";
    ::RevokeDragDrop(hwnd);

    const Paths paths = {"C:\\Users\\Zoë\\Bilder\\写真.jpg"};
    ::PostMessageW(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(testing::MakeDrop(paths)), 0);
    Spin();
    EXPECT_EQ(drops, std::vector<Paths>{paths});
}

} // namespace
} // namespace glimmerly::platform::win32

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
