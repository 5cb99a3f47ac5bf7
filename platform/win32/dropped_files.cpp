#include "platform/win32/dropped_files.h"

#include "platform/win32/wide_path.h"

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

std::vector<std::string> DroppedPaths(void* drop) {
    const auto handle = static_cast<HDROP>(drop);
    const UINT count = ::DragQueryFileW(handle, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::string> paths;
    paths.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = ::DragQueryFileW(handle, i, nullptr, 0);
        if (length == 0)
            continue;
        std::wstring name(length + 1, L'\0');
        const UINT copied = ::DragQueryFileW(handle, i, name.data(), length + 1);
        name.resize(copied);
        paths.push_back(Utf8FromUtf16(name));
    }
    return paths;
}

} // namespace glimmerly::platform::win32
