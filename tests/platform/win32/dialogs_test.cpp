// The system's save dialog and colour chooser, answered by a helper thread as a user would: the
// typed name comes back as UTF-8 with "jpg" added, the chooser opens on the colour it is given,
// and cancelling either gives nothing.

#include "platform/win32/dialogs.h"
#include "platform/win32/win32_parts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/win32/windows_api.h"
// After <windows.h>, which they need.
#include <commdlg.h>
#include <dlgs.h>

namespace glimmerly::platform::win32 {
namespace {

struct Search {
    HWND owner;
    HWND found;
};

// The dialog owned by `owner` once it shows; nullptr after about five seconds without one.
HWND WaitForDialog(HWND owner) {
    for (int tries = 0; tries < 250; ++tries) {
        Search search{owner, nullptr};
        ::EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                if (::GetWindow(window, GW_OWNER) != s->owner || !::IsWindowVisible(window))
                    return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        ::Sleep(20);
    }
    return nullptr;
}

// A top-level window that owns the dialogs, and a user who answers them from another thread.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner_ =
            ::CreateWindowExW(0, L"STATIC", L"Besitzer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                              300, 200, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    }
    void TearDown() override {
        if (user_.joinable())
            user_.join();
        ::DestroyWindow(owner_);
    }
    void Answer(std::function<void(HWND dialog)> answer) {
        user_ = std::thread([this, answer] {
            HWND dialog = WaitForDialog(owner_);
            sawDialog_ = dialog != nullptr;
            if (dialog)
                answer(dialog);
        });
    }
    std::uintptr_t Owner() const { return reinterpret_cast<std::uintptr_t>(owner_); }

    HWND owner_ = nullptr;
    std::thread user_;
    std::atomic<bool> sawDialog_{false};
};

TEST_F(DialogTest, TheSaveDialogGivesTheTypedNameAsUtf8WithItsExtension) {
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    const std::wstring typed = std::wstring(folder) + L"\u03A9\u03BC\u03AD\u03B3\u03B1";
    Answer([typed](HWND dialog) {
        ::SetDlgItemTextW(dialog, cmb13, typed.c_str());
        ::SetDlgItemTextW(dialog, edt1, typed.c_str());
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    const std::optional<std::string> chosen = AskJpegSaveFileName(Owner());
    ASSERT_TRUE(sawDialog_);
    ASSERT_TRUE(chosen);
    const std::string expected = "\\Ωμέγα.jpg";
    ASSERT_GE(chosen->size(), expected.size());
    EXPECT_EQ(chosen->substr(chosen->size() - expected.size()), expected) << *chosen;
}

TEST_F(DialogTest, CancellingTheSaveDialogGivesNoName) {
    Answer([](HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_FALSE(AskJpegSaveFileName(Owner()));
    EXPECT_TRUE(sawDialog_);
}

TEST_F(DialogTest, TheColourChooserOpensOnTheGivenColour) {
    Answer([](HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, IDOK, 0); });
    EXPECT_EQ(ChooseColour(Owner(), RGB(0x12, 0x80, 0xE0)), RGB(0x12, 0x80, 0xE0));
    EXPECT_TRUE(sawDialog_);
    user_.join();

    Answer([](HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_FALSE(ChooseColour(Owner(), RGB(0, 0, 0)));
}

// The program's colours reach the chooser as red, green and blue, and come back so.
TEST_F(DialogTest, TheProgramsColourIsShownAndGivenBackUnchanged) {
    std::atomic<UINT> red{0}, blue{0};
    Answer([&](HWND dialog) {
        red = ::GetDlgItemInt(dialog, 706, nullptr, FALSE);  // the chooser's "Red" field
        blue = ::GetDlgItemInt(dialog, 708, nullptr, FALSE); // and its "Blue" one
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    Win32Dialogs dialogs;
    EXPECT_EQ(dialogs.ChooseColour(Owner(), Colour{0x12, 0x80, 0xE0}), (Colour{0x12, 0x80, 0xE0}));
    EXPECT_TRUE(sawDialog_);
    EXPECT_EQ(red.load(), 0x12u);
    EXPECT_EQ(blue.load(), 0xE0u);
}

} // namespace
} // namespace glimmerly::platform::win32
