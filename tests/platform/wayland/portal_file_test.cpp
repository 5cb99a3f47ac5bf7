#include "platform/wayland/portal_file.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace glimmerly::platform::wayland {
namespace {

namespace fs = std::filesystem;

TEST(PortalFile, ReadAndGone) {
    testing::TempDir dir("glimmerly-portal");
    const std::string bytes(200000, '\x89');
    const std::string path = dir.Write("Screenshot.png", bytes);
    const auto read = ReadAndDelete(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, bytes);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
}

TEST(PortalFile, DeletedAlsoWhenItCannotBeRead) {
    testing::TempDir dir("glimmerly-portal");
    // Larger than allowed.
    const std::string big = dir.Write("big.png", std::string(1000, 'x'));
    EXPECT_FALSE(ReadAndDelete(big, 999));
    EXPECT_FALSE(fs::exists(big));

    // A symbolic link planted at the fixed name: not followed, the link goes, its target stays.
    const std::string target = dir.Write("secret", "do not read");
    const std::string link = dir.Path("shot.png");
    fs::create_symlink(target, link);
    EXPECT_FALSE(ReadAndDelete(link));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_TRUE(fs::exists(target));

    // No regular file (a pipe would block a plain read for ever).
    const std::string fifo = dir.Path("fifo.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadAndDelete(fifo));
    EXPECT_FALSE(fs::exists(fs::symlink_status(fifo)));

    // Without read permission (meaningful when not run as root).
    const std::string locked = dir.Write("locked.png", "png");
    ::chmod(locked.c_str(), 0);
    const auto read = ReadAndDelete(locked);
    if (::geteuid() != 0) {
        EXPECT_FALSE(read);
    }
    EXPECT_FALSE(fs::exists(locked));

    EXPECT_FALSE(ReadAndDelete(dir.Path("missing.png")));
}

} // namespace
} // namespace glimmerly::platform::wayland
