#pragma once
// A drop handle as the shell makes it for WM_DROPFILES: DROPFILES, then the wide names, each
// ending in a zero, and one zero more at the end. The receiver releases it with DragFinish.

#include "platform/win32/wide_path.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"
// After <windows.h>, which it needs.
#include <shlobj.h>

namespace glimmerly::platform::win32::testing {

inline HDROP MakeDrop(const std::vector<std::string>& paths) {
    std::wstring names;
    for (const std::string& path : paths)
        names += Utf16FromUtf8(path).value() + L'\0';
    names += L'\0';
    const std::size_t bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(header + 1, names.data(), names.size() * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

} // namespace glimmerly::platform::win32::testing
