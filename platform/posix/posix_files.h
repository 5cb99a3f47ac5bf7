#pragma once
// Files on POSIX systems: the private temporary folder and the few file operations the upload
// needs. No Qt; shared by the X11 backend and the test fakes.

#include "platform/platform.h"

#include <string>

namespace glimmerly::platform {

// Makes sure `path` is a folder that only the current user can use: created with mode 0700 when
// missing, otherwise accepted only when lstat shows a real folder (not a symlink) owned by the
// effective user with no rights for group or others. Throws std::runtime_error (with a German
// text naming the folder) when that cannot be had.
void EnsurePrivateFolder(const std::string& path);

class PosixFiles : public Files {
public:
    // The temporary folder is `runtimeDir`/glimmerly/ when `runtimeDir` is set and is a private
    // folder of the user, else `sharedTmp`/glimmerly-<uid>/. The defaults read $XDG_RUNTIME_DIR
    // and use /tmp.
    PosixFiles();
    PosixFiles(std::string runtimeDir, std::string sharedTmp);

    std::string TempDir() override;
    std::uint64_t FileSizeOf(const std::string& path) override;
    bool Exists(const std::string& path) override;
    void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) override;
    bool DeleteFile(const std::string& path) override;
    bool MoveFile(const std::string& from, const std::string& to) override;

    // The cross-file-system half of MoveFile: copies `from` next to `to` under a temporary name,
    // renames the copy onto `to` and then removes `from`. On failure `from` is untouched and no
    // partial copy is left behind.
    static bool CopyThenDelete(const std::string& from, const std::string& to);

private:
    std::string runtimeDir_;
    std::string sharedTmp_;
};

} // namespace glimmerly::platform
