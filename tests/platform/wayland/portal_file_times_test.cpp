// The portal file's times against the request's: a file is fresh only when it was both modified
// and changed after the request (less the clock's grace of two seconds). Setting a file's
// modification time changes its change time, so each time is tried stale with the other fresh.

#include "platform/wayland/portal_file.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

namespace glimmerly::platform::wayland {
namespace {

namespace fs = std::filesystem;

timespec Now(time_t plusSeconds = 0) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec += plusSeconds;
    return now;
}

timespec Plus(timespec t, time_t seconds, long nanoseconds = 0) {
    t.tv_sec += seconds;
    t.tv_nsec += nanoseconds;
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000;
        --t.tv_sec;
    }
    return t;
}

class PortalFileTimes : public ::testing::Test {
protected:
    // A file of the user, modified at `modified` and changed now (by the setting of that time).
    std::string Written(const std::string& name, const timespec& modified) {
        const std::string path = dir.Write(name, "Bild " + name);
        const timespec times[2] = {modified, modified};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }
    static struct stat StatOf(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0);
        return info;
    }
    void ExpectRefusedAndKept(const std::string& path, const timespec& requested) {
        const FileRead read = TakeAnswerFile(0, path, requested);
        EXPECT_FALSE(read.bytes) << path;
        EXPECT_EQ(read.refusal, "die Bilddatei ist älter als die Anfrage") << path;
        EXPECT_TRUE(fs::exists(path)) << path;
    }

    glimmerly::testing::TempDir dir{"glimmerly-portal-times"};
};

TEST_F(PortalFileTimes, AFileModifiedBeforeTheRequestIsRefusedThoughChangedSince) {
    const std::string path = Written("old.png", Now(-3600));
    const timespec requested = Now();
    const struct stat info = StatOf(path);
    ASSERT_GE(info.st_ctim.tv_sec, requested.tv_sec - 1) << "the change time is not fresh";
    ExpectRefusedAndKept(path, requested);
}

TEST_F(PortalFileTimes, AFileChangedBeforeTheRequestIsRefusedThoughModifiedAfter) {
    // A modification time in the future, set a minute before the request.
    const std::string path = Written("future.png", Now(3600));
    ExpectRefusedAndKept(path, Now(60));
}

// Down to the nanosecond: a file modified exactly two seconds before the request is taken, one
// modified a nanosecond earlier is not.
TEST_F(PortalFileTimes, TheGraceEndsExactlyTwoSecondsBeforeTheRequest) {
    const timespec requested = Now(-30);
    const timespec edge = Plus(requested, -2);
    const std::string onEdge = Written("edge.png", edge);
    const std::string before = Written("before.png", Plus(edge, 0, -1));
    const struct stat info = StatOf(before);
    if (info.st_mtim.tv_nsec != Plus(edge, 0, -1).tv_nsec)
        GTEST_SKIP() << "the file system keeps no nanoseconds";

    ExpectRefusedAndKept(before, requested);
    const FileRead read = TakeAnswerFile(0, onEdge, requested);
    ASSERT_TRUE(read.bytes) << read.refusal;
    EXPECT_EQ(*read.bytes, "Bild edge.png");
    EXPECT_FALSE(fs::exists(onEdge));
}

} // namespace
} // namespace glimmerly::platform::wayland
