#include "platform/posix/posix_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using glimmerly::platform::EnsurePrivateFolder;
using glimmerly::platform::PosixFiles;
using glimmerly::platform::PrivatePlaces;
using glimmerly::platform::ProgramFolder;

namespace {

class Scratch : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return temp_.Path(name); }
    void Write(const std::string& path, const std::string& content) const {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0);
        return st.st_mode & 07777;
    }

    glimmerly::testing::TempDir temp_{"glimmerly-files"};
    const std::string dir_ = temp_.Root().string();
};

using PrivateFolder = Scratch;

TEST_F(PrivateFolder, IsCreatedWithMode0700EvenUnderARestrictiveUmask) {
    const mode_t old = ::umask(0777);
    EXPECT_NO_THROW(EnsurePrivateFolder(Path("new")));
    ::umask(old);
    EXPECT_EQ(ModeOf(Path("new")), 0700u);
    // An existing private folder, with or without the trailing slash, is accepted as it is.
    EXPECT_NO_THROW(EnsurePrivateFolder(Path("new") + "/"));
}

TEST_F(PrivateFolder, RefusesFoldersOthersCouldUseAndThingsThatAreNoFolders) {
    ASSERT_EQ(::mkdir(Path("open").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(Path("open").c_str(), 0755), 0);
    EXPECT_THROW(EnsurePrivateFolder(Path("open")), std::runtime_error);
    ASSERT_EQ(::chmod(Path("open").c_str(), 01777), 0);
    EXPECT_THROW(EnsurePrivateFolder(Path("open")), std::runtime_error);

    // A symlink to a perfectly private folder is still refused: it could be swapped.
    ASSERT_EQ(::mkdir(Path("real").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(Path("real").c_str(), Path("link").c_str()), 0);
    EXPECT_THROW(EnsurePrivateFolder(Path("link")), std::runtime_error);

    Write(Path("file"), "x");
    EXPECT_THROW(EnsurePrivateFolder(Path("file")), std::runtime_error);
    EXPECT_THROW(EnsurePrivateFolder(Path("missing/below")), std::runtime_error);
    EXPECT_THROW(EnsurePrivateFolder(""), std::runtime_error);
}

TEST_F(PrivateFolder, RefusesAFolderOfAnotherOwner) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a folder to another user";
    }
    ASSERT_EQ(::mkdir(Path("theirs").c_str(), 0700), 0);
    ASSERT_EQ(::chown(Path("theirs").c_str(), 65534, 65534), 0);
    EXPECT_THROW(EnsurePrivateFolder(Path("theirs")), std::runtime_error);
}

TEST_F(PrivateFolder, TempDirPrefersAPrivateRuntimeDirAndElseUsesTheCacheFolder) {
    ASSERT_EQ(::mkdir(Path("run").c_str(), 0700), 0);
    const std::string cache = Path("cache");
    const std::string own = cache + "/glimmerly/";

    EXPECT_EQ(PosixFiles(Path("run"), cache).TempDir(), Path("run") + "/glimmerly/");
    EXPECT_EQ(ModeOf(Path("run") + "/glimmerly"), 0700u);
    EXPECT_EQ(ProgramFolder({Path("run") + "/", cache}), Path("run"));
    EXPECT_FALSE(fs::exists(cache));

    // Without a usable runtime folder: the cache folder, made 0700 when missing, and the
    // program's own folder in it hold everything.
    EXPECT_EQ(PosixFiles("", cache).TempDir(), own);
    EXPECT_EQ(ModeOf(cache), 0700u);
    EXPECT_EQ(ModeOf(own), 0700u);
    EXPECT_EQ(ProgramFolder({"", cache + "/"}), cache + "/glimmerly");

    // A runtime folder that others may enter, or a relative one, is not used.
    ASSERT_EQ(::mkdir(Path("shared-run").c_str(), 0755), 0);
    EXPECT_EQ(PosixFiles(Path("shared-run"), cache).TempDir(), own);
    EXPECT_EQ(PosixFiles("relative/run", cache).TempDir(), own);
    EXPECT_EQ(ProgramFolder({Path("shared-run"), cache}), cache + "/glimmerly");
    EXPECT_FALSE(fs::exists(Path("shared-run") + "/glimmerly"));

    // An existing cache folder of the usual kind (0755, or a link to one) is used as it is.
    ASSERT_EQ(::mkdir(Path("open-cache").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(Path("open-cache").c_str(), Path("linked-cache").c_str()), 0);
    EXPECT_EQ(PosixFiles("", Path("linked-cache")).TempDir(), Path("linked-cache") + "/glimmerly/");
    EXPECT_EQ(ModeOf(Path("open-cache")), 0755u);
}

TEST_F(PrivateFolder, ProgramFolderRefusesWhatOthersCouldHaveMadeOrSwapped) {
    const auto refused = [](const std::string& cache) {
        try {
            ProgramFolder({"", cache});
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    // The program's folder planted as a link, or open to others.
    ASSERT_EQ(::mkdir(Path("a").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(Path("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(Path("elsewhere").c_str(), Path("a/glimmerly").c_str()), 0);
    EXPECT_NE(refused(Path("a")).find(Path("a/glimmerly")), std::string::npos);
    ASSERT_EQ(::mkdir(Path("b").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(Path("b/glimmerly").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(Path("b/glimmerly").c_str(), 0777), 0);
    EXPECT_NE(refused(Path("b")), "");
    // A cache folder everybody may write into, or one that is no folder.
    ASSERT_EQ(::mkdir(Path("c").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(Path("c").c_str(), 01777), 0);
    EXPECT_NE(refused(Path("c")).find(Path("c")), std::string::npos);
    EXPECT_FALSE(fs::exists(Path("c/glimmerly")));
    Write(Path("d"), "x");
    EXPECT_NE(refused(Path("d")), "");
    // Nowhere to go at all, or only a relative place.
    EXPECT_NE(refused(""), "");
    EXPECT_NE(refused("relative/cache"), "");
    if (::geteuid() == 0) {
        // A cache folder of another user (HOME left over from another account).
        ASSERT_EQ(::mkdir(Path("theirs").c_str(), 0700), 0);
        ASSERT_EQ(::chown(Path("theirs").c_str(), 65534, 65534), 0);
        EXPECT_NE(refused(Path("theirs")), "");
        EXPECT_FALSE(fs::exists(Path("theirs/glimmerly")));
    }
}

TEST_F(PrivateFolder, PlacesComeFromTheBaseDirectoryVariables) {
    struct Saved {
        const char* name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved;
    for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "HOME"}) {
        const char* value = std::getenv(name);
        saved.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
    }
    ::setenv("XDG_RUNTIME_DIR", "/run/user/x", 1);
    ::setenv("XDG_CACHE_HOME", "/somewhere/cache", 1);
    ::setenv("HOME", "/home/x", 1);
    PrivatePlaces places = PrivatePlaces::FromEnvironment();
    EXPECT_EQ(places.runtimeDir, "/run/user/x");
    EXPECT_EQ(places.cacheDir, "/somewhere/cache");
    // A relative cache variable is ignored, as the base directory rules say.
    ::setenv("XDG_CACHE_HOME", "cache", 1);
    EXPECT_EQ(PrivatePlaces::FromEnvironment().cacheDir, "/home/x/.cache");
    // Without HOME, the user database names the home folder.
    ::unsetenv("XDG_CACHE_HOME");
    ::unsetenv("HOME");
    places = PrivatePlaces::FromEnvironment();
    ASSERT_FALSE(places.cacheDir.empty());
    EXPECT_EQ(places.cacheDir.front(), '/');
    EXPECT_EQ(places.cacheDir.substr(places.cacheDir.size() - 7), "/.cache");
    for (const Saved& s : saved) {
        if (s.value)
            ::setenv(s.name, s.value->c_str(), 1);
        else
            ::unsetenv(s.name);
    }
}

using FileOps = Scratch;

TEST_F(FileOps, WriteFileReplacesTheWholeFileAndNamesItWhenItCannot) {
    PosixFiles files("", dir_);
    Write(Path("screen.jpg"), std::string(100000, 'x'));
    const std::vector<std::uint8_t> jpeg{0xFF, 0xD8, 0xFF, 0xE0, 0x00};
    files.WriteFile(Path("screen.jpg"), jpeg);
    EXPECT_EQ(Read(Path("screen.jpg")), std::string("\xFF\xD8\xFF\xE0\x00", 5));
    files.WriteFile(Path("screen.jpg"), {});
    EXPECT_EQ(Read(Path("screen.jpg")), "");

    const std::string missing = Path("no-such-dir") + "/screen.jpg";
    try {
        files.WriteFile(missing, jpeg);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    // A folder in the way is reported and left alone.
    ASSERT_EQ(::mkdir(Path("folder").c_str(), 0700), 0);
    EXPECT_THROW(files.WriteFile(Path("folder"), jpeg), std::runtime_error);
    EXPECT_TRUE(fs::is_directory(Path("folder")));
    // A device that takes nothing: the error is said, and the device is not removed.
    if (::access("/dev/full", W_OK) == 0) {
        try {
            files.WriteFile("/dev/full", jpeg);
            FAIL() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("kann nicht geschrieben werden"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(fs::exists("/dev/full"));
    }
}

TEST_F(FileOps, DeleteFileRemovesFilesOnly) {
    PosixFiles files("", dir_);
    Write(Path("screen.jpg"), "jpeg");
    EXPECT_TRUE(fs::exists(Path("screen.jpg")));
    EXPECT_TRUE(files.DeleteFile(Path("screen.jpg")));
    EXPECT_FALSE(fs::exists(Path("screen.jpg")));
    EXPECT_FALSE(files.DeleteFile(Path("screen.jpg")));

    // Folders are not deleted by a file operation.
    ASSERT_EQ(::mkdir(Path("folder").c_str(), 0700), 0);
    EXPECT_FALSE(files.DeleteFile(Path("folder")));
    EXPECT_TRUE(fs::is_directory(Path("folder")));
}

TEST_F(FileOps, MoveFileRenamesAndReplacesAndFailsWithoutLosingTheSource) {
    PosixFiles files("", dir_);
    Write(Path("screen.jpg"), "picture");
    EXPECT_TRUE(files.MoveFile(Path("screen.jpg"), Path("Urlaub.jpg")));
    EXPECT_FALSE(fs::exists(Path("screen.jpg")));
    EXPECT_EQ(Read(Path("Urlaub.jpg")), "picture");

    Write(Path("screen.jpg"), "newer");
    EXPECT_TRUE(files.MoveFile(Path("screen.jpg"), Path("Urlaub.jpg")));
    EXPECT_EQ(Read(Path("Urlaub.jpg")), "newer");

    EXPECT_FALSE(files.MoveFile(Path("missing"), Path("x")));
    Write(Path("screen.jpg"), "kept");
    EXPECT_FALSE(files.MoveFile(Path("screen.jpg"), Path("no-such-folder/x.jpg")));
    EXPECT_EQ(Read(Path("screen.jpg")), "kept");
    EXPECT_FALSE(files.MoveFile(Path("screen.jpg"), ""));
}

TEST_F(FileOps, CopyThenDeleteKeepsContentAndModeAndLeavesNoPartOnFailure) {
    std::string content(200000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7);
    }
    Write(Path("screen.jpg"), content);
    ASSERT_EQ(::chmod(Path("screen.jpg").c_str(), 0640), 0);
    Write(Path("target.jpg"), "old");

    EXPECT_TRUE(PosixFiles::CopyThenDelete(Path("screen.jpg"), Path("target.jpg")));
    EXPECT_EQ(Read(Path("target.jpg")), content);
    EXPECT_EQ(ModeOf(Path("target.jpg")), 0640u);
    EXPECT_FALSE(fs::exists(Path("screen.jpg")));

    Write(Path("screen.jpg"), "kept");
    EXPECT_FALSE(PosixFiles::CopyThenDelete(Path("screen.jpg"), Path("gone/target.jpg")));
    EXPECT_EQ(Read(Path("screen.jpg")), "kept");
    // A target that is a folder: the copy fails at the rename and its part file is removed.
    ASSERT_EQ(::mkdir(Path("folder").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(Path("folder/inner").c_str(), 0700), 0);
    EXPECT_FALSE(PosixFiles::CopyThenDelete(Path("screen.jpg"), Path("folder")));
    EXPECT_EQ(Read(Path("screen.jpg")), "kept");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) {
        ++entries;
    }
    EXPECT_EQ(entries, 3u); // screen.jpg, target.jpg, folder
}

TEST_F(FileOps, MoveFileCrossesFileSystems) {
    struct stat here {
    }, shm{};
    if (::stat(dir_.c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    }
    std::string templ = "/dev/shm/glimmerly-move-XXXXXX";
    const int fd = ::mkstemp(templ.data());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "across", 6), 6);
    ::close(fd);
    EXPECT_TRUE(PosixFiles("", dir_).MoveFile(templ, Path("saved.jpg")));
    EXPECT_EQ(Read(Path("saved.jpg")), "across");
    EXPECT_FALSE(fs::exists(templ));
}

} // namespace
