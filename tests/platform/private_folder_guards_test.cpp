// What makes a folder private enough for the program's lock, channel and temporary files: owned
// by the effective user (root included, whom no mode keeps out) and open to nobody else. A runtime
// folder that fails makes the program fall back to its folder under the cache folder.

#include "platform/capture_channel.h"
#include "platform/posix/posix_files.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace glimmerly::platform {
namespace {

namespace fs = std::filesystem;

// Another user's ids: nobody's.
constexpr uid_t kOtherUser = 65534;
constexpr gid_t kOtherGroup = 65534;

class PrivateFolderGuards : public ::testing::Test {
protected:
    // A folder of the given mode (set after the umask), `owner` when given.
    std::string Folder(const std::string& name, mode_t mode,
                       std::optional<uid_t> owner = std::nullopt) {
        const std::string path = temp_.Path(name);
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
        if (owner) {
            EXPECT_EQ(::chown(path.c_str(), *owner, kOtherGroup), 0) << path;
        }
        return path;
    }
    static bool Refused(const std::string& path) {
        try {
            EnsurePrivateFolder(path);
        } catch (const std::runtime_error&) {
            return true;
        }
        return false;
    }

    glimmerly::testing::TempDir temp_{"glimmerly-private"};
    const std::string cache_ = temp_.Path("cache");
};

TEST_F(PrivateFolderGuards, ARuntimeFolderOfAnotherUserIsLeftForTheCacheFolder) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    // 0700 and a real folder: private in every way but its owner, which root could enter anyway.
    const std::string run = Folder("run", 0700, kOtherUser);
    EXPECT_FALSE((PrivatePlaces{run, cache_}.UsesRuntimeDir()));
    EXPECT_EQ(ProgramFolder({run, cache_}), cache_ + "/glimmerly");
    EXPECT_EQ(PosixFiles(run, cache_).TempDir(), cache_ + "/glimmerly/");
    EXPECT_FALSE(fs::exists(run + "/glimmerly"));

    // As the program finds its places: from the environment.
    const glimmerly::testing::ScopedVariable runtime("XDG_RUNTIME_DIR", run.c_str());
    const glimmerly::testing::ScopedVariable cache("XDG_CACHE_HOME", cache_.c_str());
    EXPECT_EQ(CaptureChannelPath(), cache_ + "/glimmerly/glimmerly-capture");
    EXPECT_EQ(PosixFiles().TempDir(), cache_ + "/glimmerly/");
    EXPECT_FALSE(fs::exists(run + "/glimmerly"));

    // Given back to the user, the same folder is used.
    ASSERT_EQ(::chown(run.c_str(), ::geteuid(), ::getegid()), 0);
    EXPECT_EQ(CaptureChannelPath(), run + "/glimmerly-capture");
}

// Each right of the group or the others alone disqualifies a runtime folder.
TEST_F(PrivateFolderGuards, ARuntimeFolderWithAnyRightForOthersIsNotUsed) {
    EXPECT_EQ(ProgramFolder({Folder("own", 0700), cache_}), temp_.Path("own"));
    for (const mode_t right : {0001, 0002, 0004, 0010, 0020, 0040}) {
        const std::string run = Folder("run" + std::to_string(right), 0700 | right);
        EXPECT_FALSE((PrivatePlaces{run, cache_}.UsesRuntimeDir())) << std::oct << right;
        EXPECT_EQ(ProgramFolder({run, cache_}), cache_ + "/glimmerly") << std::oct << right;
    }
}

// The program's own folder must be exactly 0700: any further bit, the special ones included, or
// a right missing for the owner, and it is refused.
TEST_F(PrivateFolderGuards, TheProgramsFolderIsRefusedForAnyModeButExactly0700) {
    EXPECT_FALSE(Refused(Folder("exact", 0700)));
    for (const mode_t mode :
         {0701, 0702, 0704, 0710, 0720, 0740, 01700, 02700, 04700, 0600, 0500, 0300}) {
        EXPECT_TRUE(Refused(Folder("mode" + std::to_string(mode), mode))) << std::oct << mode;
    }
}

// The cache folder may be open to reading, but nobody else may write into it.
TEST_F(PrivateFolderGuards, ACacheFolderOthersMayWriteIntoIsRefused) {
    const std::string readable = Folder("readable", 0755);
    EXPECT_EQ(ProgramFolder({"", readable}), readable + "/glimmerly");
    const std::string writable = Folder("writable", 0702);
    EXPECT_THROW(ProgramFolder({"", writable}), std::runtime_error);
    EXPECT_FALSE(fs::exists(writable + "/glimmerly"));
}

} // namespace
} // namespace glimmerly::platform
