// Refusals of the POSIX platform parts at their edges: a file one byte larger than allowed (by its
// size, or by what it holds when it claims none), a picture path that is not plainly absolute or
// names a folder, lock file names that are no plain names, and a capture channel path one byte too
// long for a socket or taken by a file that is no socket.

#include "platform/capture_channel.h"
#include "platform/posix/safe_open.h"
#include "platform/posix/single_instance.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace glimmerly::platform {
namespace {

namespace fs = std::filesystem;

timespec Now() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec -= 10;
    return now;
}

// A file of 1 TiB and one byte that takes no space: read whole, it would never end.
TEST(SizeRefusals, AFileOneByteOverTheLimitIsRefusedBeforeReading) {
    testing::TempDir dir("glimmerly-refusals");
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 40;
    const std::string path = dir.Path("huge.png");
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const bool sized = ::ftruncate(fd, static_cast<off_t>(kLimit + 1)) == 0;
    ::close(fd);
    if (!sized)
        GTEST_SKIP() << "the file system holds no file of 1 TiB";
    EXPECT_EQ(ReadRegularFile(path, kLimit).refusal, "zu groß");
    EXPECT_EQ(TakeFreshOwnFile(path, Now(), kLimit).refusal, "die Bilddatei ist zu groß");
}

// Files of the kernel's own file system claim no size but hold text: what they hold counts.
TEST(SizeRefusals, WhatAFileHoldsCountsWhenItClaimsNoSize) {
    const std::string path = "/proc/sys/kernel/ostype"; // "Linux\n"
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || info.st_size != 0)
        GTEST_SKIP() << path << " is not there or claims a size";
    EXPECT_EQ(ReadRegularFile(path, 6).bytes, "Linux\n");
    const FileRead over = ReadRegularFile(path, 5);
    EXPECT_FALSE(over.bytes);
    EXPECT_EQ(over.refusal, "zu groß");
}

TEST(PathRefusals, APicturePathMustBeAbsoluteAndNameAFile) {
    testing::TempDir dir("glimmerly-refusals");
    const std::string file = dir.Write("bild.png", "png");
    fs::create_directory(dir.Root() / "ordner");
    const std::string probes[] = {"bild.png", file + "/", dir.Path("ordner") + "/"};
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.Root());
    for (const std::string& path : probes) {
        const FileRead read = TakeFreshOwnFile(path, Now(), 100);
        EXPECT_FALSE(read.bytes) << path;
        EXPECT_EQ(read.refusal, "der Pfad der Bilddatei ist ungültig") << path;
    }
    fs::current_path(cwd);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(fs::is_directory(dir.Root() / "ordner"));
}

TEST(LockNameRefusals, OnlyAPlainFileNameIsALockName) {
    testing::TempDir dir("glimmerly-refusals");
    for (const std::string name : {"", ".", "..", "a/b"}) {
        try {
            AcquireSingleInstanceIn(dir.Root().string(), name);
            ADD_FAILURE() << "'" << name << "' taken";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("kein einfacher Dateiname"), std::string::npos)
                << "'" << name << "': " << e.what();
        }
    }
    EXPECT_NE(AcquireSingleInstanceIn(dir.Root().string(), "..."), nullptr);
}

TEST(ChannelPathRefusals, ASocketPathNeedsRoomForItsEnd) {
    testing::TempDir dir("glimmerly-refusals");
    const std::size_t room = sizeof(sockaddr_un{}.sun_path);
    const std::string folder = dir.Root().string() + "/";
    ASSERT_LT(folder.size(), room - 1);
    const std::string longest = folder + std::string(room - 1 - folder.size(), 's');
    EXPECT_NE(CaptureChannelServer::Listen(longest), nullptr);
    const std::string over = folder + std::string(room - folder.size(), 's');
    EXPECT_EQ(CaptureChannelServer::Listen(over), nullptr);
    EXPECT_FALSE(fs::exists(over));
    EXPECT_EQ(SendCaptureRequest(over, 0), CaptureRequestResult::NoListener);
}

// A socket left by a copy that ended is replaced; anything else in its place is left alone.
TEST(ChannelPathRefusals, OnlyASocketIsReplaced) {
    testing::TempDir dir("glimmerly-refusals");
    const std::string path = dir.Write("glimmerly-capture", "mine");
    EXPECT_EQ(CaptureChannelServer::Listen(path), nullptr);
    EXPECT_TRUE(fs::is_regular_file(path));
}

} // namespace
} // namespace glimmerly::platform
