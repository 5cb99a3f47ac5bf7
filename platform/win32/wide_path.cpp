#include "platform/win32/wide_path.h"

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

namespace {

// The longest path every call takes without the prefix: CreateDirectoryW stops 12 characters
// short of MAX_PATH (room for an 8.3 name).
constexpr std::size_t kClassicLength = MAX_PATH - 12;

bool StartsWith(std::wstring_view text, std::wstring_view start) {
    return text.substr(0, start.size()) == start;
}

} // namespace

std::optional<std::wstring> Utf16FromUtf8(std::string_view utf8) {
    if (utf8.empty())
        return std::wstring();
    if (utf8.find('\0') != std::string_view::npos)
        return std::nullopt;
    const int size = static_cast<int>(utf8.size());
    const int n =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string Utf8FromUtf16(std::wstring_view utf16) {
    if (utf16.empty())
        return {};
    const int size = static_cast<int>(utf16.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::optional<std::wstring> WidePath(const std::string& path) {
    std::optional<std::wstring> wide = Utf16FromUtf8(path);
    if (!wide || wide->size() < kClassicLength || StartsWith(*wide, L"\\\\?\\") ||
        StartsWith(*wide, L"\\\\.\\"))
        return wide;
    const DWORD needed = ::GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return wide; // the call that follows reports what is wrong with it
    std::wstring full(needed, L'\0');
    const DWORD n = ::GetFullPathNameW(wide->c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed)
        return wide;
    full.resize(n);
    if (StartsWith(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return L"\\\\?\\" + full;
    return wide;
}

} // namespace glimmerly::platform::win32
