// ReadRegularFile for Windows: a dropped file (a UTF-8 path, opened through the W call, so also
// beyond MAX_PATH and outside the ANSI code page) is opened for reading only, shared, and
// accepted only when the handle is a file on a disk (not a pipe, a console or another device)
// that is no folder and no larger than asked, before a byte is read.

#include "platform/file_read.h"
#include "platform/win32/system_error.h"
#include "platform/win32/wide_path.h"

#include "text/cp1252.h"

#include "platform/win32/windows_api.h"

namespace glimmerly::platform {

using win32::WidePath;

namespace {

FileRead Refused(std::string why) {
    FileRead read;
    read.refusal = std::move(why);
    return read;
}

std::string ErrorText(DWORD error) {
    return cp1252::ToUtf8(win32::SystemErrorText(error));
}

} // namespace

std::string_view FolderSeparators() {
    return "\\/:";
}

FileRead ReadRegularFile(const std::string& path, std::uint64_t maxBytes) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide)
        return Refused("der Name der Bilddatei ist kein gültiger Pfad");
    // FILE_FLAG_OVERLAPPED: should the name lead to a pipe after all, no call below waits on it.
    HANDLE file = ::CreateFileW(
        wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Refused("die Bilddatei ist nicht zu öffnen: " + ErrorText(::GetLastError()));
    struct Closer {
        HANDLE h;
        ~Closer() { ::CloseHandle(h); }
    } closer{file};

    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Refused("keine gewöhnliche Datei");
    const std::uint64_t size =
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > maxBytes)
        return Refused("die Bilddatei ist zu groß");

    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::uint64_t done = 0;
    OVERLAPPED at{};
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    struct EventCloser {
        HANDLE h;
        ~EventCloser() {
            if (h)
                ::CloseHandle(h);
        }
    } eventCloser{event};
    while (done < size) {
        at = OVERLAPPED{};
        at.Offset = static_cast<DWORD>(done);
        at.OffsetHigh = static_cast<DWORD>(done >> 32);
        at.hEvent = event;
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(size - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(file, bytes.data() + done, chunk, nullptr, &at) &&
            ::GetLastError() != ERROR_IO_PENDING)
            return Refused("die Bilddatei ist nicht lesbar: " + ErrorText(::GetLastError()));
        if (!::GetOverlappedResult(file, &at, &got, TRUE))
            return Refused("die Bilddatei ist nicht lesbar: " + ErrorText(::GetLastError()));
        if (got == 0)
            break; // shorter than it was a moment ago
        done += got;
    }
    bytes.resize(static_cast<std::size_t>(done));
    FileRead read;
    read.bytes = std::move(bytes);
    return read;
}

} // namespace glimmerly::platform
