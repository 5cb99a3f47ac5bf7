#include "platform/win32/dialogs.h"

#include "platform/win32/wide_path.h"
#include "platform/win32/win32_parts.h"

#include "platform/win32/windows_api.h"
// After <windows.h>, which it needs.
#include <commdlg.h>

namespace glimmerly::platform::win32 {

std::optional<std::string> AskJpegSaveFileName(std::uintptr_t owner) {
    // The longest path the W calls take.
    std::wstring file(32768, L'\0');
    static const wchar_t kFilter[] = L"JPEG-Dateien (*.jpg)\0*.jpg\0";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = reinterpret_cast<HWND>(owner);
    dialog.lpstrFilter = kFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrDefExt = L"jpg";
    // No OFN_FILEMUSTEXIST: the picture is usually stored under a new name.
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_ENABLESIZING |
                   OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (!::GetSaveFileNameW(&dialog))
        return std::nullopt;
    file.resize(file.find(L'\0'));
    return Utf8FromUtf16(file);
}

std::optional<std::uint32_t> ChooseColour(std::uintptr_t owner, std::uint32_t initial) {
    // The chooser's own sixteen custom colours, white until the user sets some.
    static COLORREF custom[16] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                                  0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                                  0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
    CHOOSECOLORA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = reinterpret_cast<HWND>(owner);
    dialog.rgbResult = initial;
    dialog.lpCustColors = custom;
    dialog.Flags = CC_ANYCOLOR | CC_RGBINIT;
    if (!::ChooseColorA(&dialog))
        return std::nullopt;
    return static_cast<std::uint32_t>(dialog.rgbResult);
}

std::optional<std::string> Win32Dialogs::AskJpegSaveFileName(std::uintptr_t owner) {
    return win32::AskJpegSaveFileName(owner);
}

std::optional<Colour> Win32Dialogs::ChooseColour(std::uintptr_t owner, Colour initial) {
    const std::optional<std::uint32_t> chosen = win32::ChooseColour(
        owner, static_cast<std::uint32_t>(initial.red | initial.green << 8 | initial.blue << 16));
    if (!chosen)
        return std::nullopt;
    return Colour{static_cast<std::uint8_t>(*chosen & 0xFF),
                  static_cast<std::uint8_t>(*chosen >> 8 & 0xFF),
                  static_cast<std::uint8_t>(*chosen >> 16 & 0xFF)};
}

} // namespace glimmerly::platform::win32
