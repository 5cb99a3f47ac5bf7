#include "platform/posix/single_instance.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using glimmerly::platform::AcquireSingleInstance;
using glimmerly::platform::AcquireSingleInstanceIn;

namespace {

class SingleInstance : public ::testing::Test {
protected:
    // A child process that takes the guard and reports by its exit code, or, when it got the
    // guard and `hold` is set, reports through the pipe and waits to be killed.
    pid_t Child(bool hold, int reportFd) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            auto guard = AcquireSingleInstanceIn(dir_, "Screenshot");
            if (!guard) {
                ::_exit(3);
            }
            if (!hold) {
                ::_exit(0);
            }
            const char held = 'H';
            if (::write(reportFd, &held, 1) != 1) {
                ::_exit(4);
            }
            for (;;) {
                ::pause();
            }
        }
        return pid;
    }

    int ExitCodeOfTry() {
        const pid_t pid = Child(false, -1);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    glimmerly::testing::TempDir temp_{"glimmerly-lock"};
    const std::string dir_ = temp_.Root().string();
};

TEST_F(SingleInstance, SecondProcessIsRefusedUntilTheFirstIsKilled) {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t first = Child(true, report[1]);
    char held = 0;
    ASSERT_EQ(::read(report[0], &held, 1), 1);
    ::close(report[0]);
    ::close(report[1]);

    EXPECT_EQ(ExitCodeOfTry(), 3);
    EXPECT_EQ(AcquireSingleInstanceIn(dir_, "Screenshot"), nullptr);

    // SIGKILL gives no chance to clean up; the kernel still drops the lock.
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
    EXPECT_EQ(ExitCodeOfTry(), 0);
    auto guard = AcquireSingleInstanceIn(dir_, "Screenshot");
    EXPECT_NE(guard, nullptr);

    struct stat st {};
    ASSERT_EQ(::lstat((dir_ + "/Screenshot").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(SingleInstance, ReleasedWhenDestroyedAndNotInheritedByStartedPrograms) {
    auto guard = AcquireSingleInstanceIn(dir_, "Screenshot");
    ASSERT_NE(guard, nullptr);
    // A program started while the guard is held (the browser) must not keep it alive.
    pid_t sleeper = 0;
    char sleep[] = "sleep";
    char seconds[] = "30";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawnp(&sleeper, "sleep", nullptr, nullptr, argv, environ), 0);
    guard.reset();
    EXPECT_EQ(ExitCodeOfTry(), 0);
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
}

// Only a lock held by another process means another copy: a planted link, a bad name or a
// folder that cannot be had are failures of their own, said in German.
TEST_F(SingleInstance, FailuresOtherThanAHeldLockAreNoSecondCopy) {
    ASSERT_EQ(::symlink((dir_ + "/target").c_str(), (dir_ + "/Screenshot").c_str()), 0);
    EXPECT_THROW(AcquireSingleInstanceIn(dir_, "Screenshot"), std::runtime_error);
    EXPECT_FALSE(fs::exists(dir_ + "/target"));
    EXPECT_THROW(AcquireSingleInstanceIn(dir_, "../Screenshot"), std::runtime_error);
    EXPECT_THROW(AcquireSingleInstanceIn(dir_, ""), std::runtime_error);
    try {
        AcquireSingleInstanceIn(dir_ + "/missing", "Screenshot");
        ADD_FAILURE() << "a missing folder gave a guard";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(dir_ + "/missing/Screenshot"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("Sperrdatei"), std::string::npos);
    }
}

TEST_F(SingleInstance, WithoutAPrivateRuntimeFolderTheCacheFolderHoldsTheLock) {
    const char* names[] = {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME"};
    std::string saved[2];
    bool had[2];
    for (int i = 0; i < 2; ++i) {
        const char* value = std::getenv(names[i]);
        had[i] = value != nullptr;
        saved[i] = value ? value : "";
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("XDG_CACHE_HOME", (dir_ + "/cache").c_str(), 1);
    {
        auto guard = AcquireSingleInstance("Screenshot");
        EXPECT_NE(guard, nullptr);
        EXPECT_TRUE(fs::exists(dir_ + "/cache/glimmerly/Screenshot"));
        EXPECT_EQ(AcquireSingleInstance("Screenshot"), nullptr);
    }
    // The program's folder there taken by someone else: said, not taken for a second copy.
    fs::remove_all(dir_ + "/cache/glimmerly");
    ASSERT_EQ(::mkdir((dir_ + "/cache/glimmerly").c_str(), 0755), 0);
    ASSERT_EQ(::chmod((dir_ + "/cache/glimmerly").c_str(), 0755), 0);
    EXPECT_THROW(AcquireSingleInstance("Screenshot"), std::runtime_error);
    for (int i = 0; i < 2; ++i) {
        if (had[i])
            ::setenv(names[i], saved[i].c_str(), 1);
        else
            ::unsetenv(names[i]);
    }
}

TEST_F(SingleInstance, UsesThePrivateRuntimeFolder) {
    ASSERT_EQ(::chmod(dir_.c_str(), 0700), 0);
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    auto guard = AcquireSingleInstance("Screenshot");
    EXPECT_NE(guard, nullptr);
    EXPECT_TRUE(fs::exists(dir_ + "/Screenshot"));
    EXPECT_EQ(AcquireSingleInstance("Screenshot"), nullptr);
    if (old) {
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

} // namespace
