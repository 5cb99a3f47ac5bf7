#include "platform/win32/system_error.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_parts.h"

#include "text/cp1252.h"

#include <optional>
#include <stdexcept>

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

namespace {

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    // Closes now and reports whether the close succeeded.
    bool Close() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

[[noreturn]] void Fail(const std::string& path, const char* what, DWORD error) {
    // The path is UTF-8 like the German words; the system's text is in the ANSI code page.
    throw std::runtime_error(cp1252::FromUtf8("Die Datei \"" + path + what) +
                             SystemErrorText(error));
}

// The path for the W calls; an empty one, which every call refuses, when it is no UTF-8.
std::wstring Wide(const std::string& path) {
    return WidePath(path).value_or(std::wstring());
}

} // namespace

std::string Win32Files::TempDir() {
    // A profile folder deep enough needs more than MAX_PATH: the call then says how much.
    std::wstring buffer(MAX_PATH + 1, L'\0');
    DWORD n = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n > buffer.size()) {
        buffer.assign(n, L'\0');
        n = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (n == 0 || n >= buffer.size()) {
        throw std::runtime_error(
            cp1252::FromUtf8("Der temporäre Ordner ist nicht bekannt: ") +
            SystemErrorText(n == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE));
    }
    buffer.resize(n);
    std::string path = Utf8FromUtf16(buffer);
    if (path.back() != '\\' && path.back() != '/')
        path += '\\';
    return path;
}

void Win32Files::WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide)
        Fail(path, "\" kann nicht angelegt werden: ", ERROR_NO_UNICODE_TRANSLATION);
    Handle file(::CreateFileW(wide->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        Fail(path, "\" kann nicht angelegt werden: ", ::GetLastError());
    DWORD error = 0;
    std::size_t done = 0;
    while (done < bytes.size() && error == 0) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
            error = ::GetLastError();
        else if (written == 0)
            error = ERROR_WRITE_FAULT;
        done += written;
    }
    if (!file.Close() && error == 0)
        error = ::GetLastError();
    if (error != 0) {
        ::DeleteFileW(wide->c_str());
        Fail(path, "\" kann nicht geschrieben werden: ", error);
    }
}

bool Win32Files::DeleteFile(const std::string& path) {
    return !path.empty() && ::DeleteFileW(Wide(path).c_str()) != 0;
}

bool Win32Files::MoveFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty())
        return false;
    return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                             MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace glimmerly::platform::win32
