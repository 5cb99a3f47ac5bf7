#pragma once
// Files on POSIX systems: the program's private folder, the temporary folder in it and the few
// file operations the upload needs. No Qt; shared by the X11 and Wayland backends and the test
// fakes.

#include "platform/platform.h"

#include <string>

namespace glimmerly::platform {

// Makes sure `path` is a folder that only the current user can use: created with mode 0700 when
// missing, otherwise accepted only when lstat shows a real folder (not a symlink) owned by the
// effective user with no rights for group or others. Throws std::runtime_error (with a German
// text naming the folder) when that cannot be had.
void EnsurePrivateFolder(const std::string& path);

// True when lstat shows `path` as a real folder owned by the effective user with no rights for
// group or others.
bool IsOwnPrivateFolder(const std::string& path);

// The places the program's private folder is chosen from.
struct PrivatePlaces {
    std::string runtimeDir; // $XDG_RUNTIME_DIR
    std::string cacheDir;   // $XDG_CACHE_HOME when absolute, else the home folder's .cache

    // From the environment; the home folder is $HOME when absolute, else the user database's.
    static PrivatePlaces FromEnvironment();
    // Whether runtimeDir is usable: absolute and the user's own private folder.
    bool UsesRuntimeDir() const;
};

// The one folder that holds the single-instance lock and the capture channel (and, below the
// runtime folder, the temporary folder): runtimeDir when it is usable, else cacheDir/glimmerly.
// Only the user can create anything under the home folder, unlike a predictable name in the
// shared /tmp. The cache folder is created 0700 when missing and must belong to the user and not
// be writable by others; the glimmerly folder passes EnsurePrivateFolder. No trailing '/'.
// Throws std::runtime_error with a German text naming the folder.
std::string ProgramFolder(const PrivatePlaces& places);

class PosixFiles : public Files {
public:
    // The temporary folder is `runtimeDir`/glimmerly/ when `runtimeDir` is usable, else the
    // program folder `cacheDir`/glimmerly/ (see ProgramFolder). The defaults come from
    // PrivatePlaces::FromEnvironment().
    PosixFiles();
    PosixFiles(std::string runtimeDir, std::string cacheDir);

    std::string TempDir() override;
    void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) override;
    bool DeleteFile(const std::string& path) override;
    bool MoveFile(const std::string& from, const std::string& to) override;

    // The cross-file-system half of MoveFile: copies `from` next to `to` under a temporary name,
    // renames the copy onto `to` and then removes `from`. On failure `from` is untouched and no
    // partial copy is left behind.
    static bool CopyThenDelete(const std::string& from, const std::string& to);

private:
    PrivatePlaces places_;
};

} // namespace glimmerly::platform
