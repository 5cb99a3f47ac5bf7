#pragma once
// Reading a whole file that somebody else named, such as a dropped picture, without waiting on a
// pipe or a device. Each system's platform code defines ReadRegularFile. No Qt.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::platform {

// A whole file's bytes, or why there are none: a German text (UTF-8) for the user.
struct FileRead {
    std::optional<std::string> bytes;
    std::string refusal;
};

// Reads the regular file at `path` (links are followed: a dropped link to a picture is fine;
// on Windows the path is UTF-8). It is opened without blocking and checked to be a regular file
// of at most `maxBytes` before a byte is read, so a named pipe, a device or a folder is refused
// at once.
FileRead ReadRegularFile(const std::string& path, std::uint64_t maxBytes);

// The characters that end a folder's name in such a path: a backslash, "/" and ":" on Windows,
// only "/" elsewhere, where the others are ordinary characters of a file name.
std::string_view FolderSeparators();

} // namespace glimmerly::platform
