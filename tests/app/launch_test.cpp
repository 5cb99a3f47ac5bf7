// The real program started as a process, up to the point where it needs a display: which
// failures of the single-instance guard end it silently (another copy runs) and which are said.
// Each run has a mount namespace with a /tmp of its own, where "another user" (uid 65534) has
// planted the folder names a copy of root would once have used.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uid_t kOtherUser = 65534;

struct Outcome {
    int exitCode = -1;
    std::string errors; // what the program wrote to stderr
};

void Check(bool ok) {
    if (!ok)
        ::_exit(120);
}

// A folder of the other user, as if that user had made it first.
void PlantForeignFolder(const std::string& path) {
    Check(::mkdir(path.c_str(), 0700) == 0);
    Check(::chown(path.c_str(), kOtherUser, kOtherUser) == 0);
}

void MakeFolder(const std::string& path, mode_t mode) {
    Check(::mkdir(path.c_str(), mode) == 0 && ::chmod(path.c_str(), mode) == 0);
}

// Runs the program with `args` and HOME=/tmp/home, without a runtime folder and without a
// display, after `prepare` has set up the private /tmp.
Outcome RunProgram(const std::vector<std::string>& args, const std::function<void()>& prepare) {
    int err[2];
    if (::pipe(err) != 0)
        return {};
    // Opened before the new /tmp hides it, should the build itself lie under /tmp.
    const int program = ::open(GLIMMERLY_BINARY, O_RDONLY | O_CLOEXEC);
    if (program < 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        Check(::unshare(CLONE_NEWNS) == 0);
        Check(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
        Check(::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0);
        PlantForeignFolder("/tmp/glimmerly-" + std::to_string(::geteuid()));
        MakeFolder("/tmp/home", 0755);
        prepare();
        ::dup2(err[1], 2);
        ::close(err[0]);
        ::close(err[1]);
        std::vector<std::string> argv{GLIMMERLY_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argp;
        for (std::string& a : argv)
            argp.push_back(a.data());
        argp.push_back(nullptr);
        std::string home = "HOME=/tmp/home";
        std::string path = "PATH=/usr/bin:/bin";
        std::string lang = "LANG=C.UTF-8";
        char* env[] = {home.data(), path.data(), lang.data(), nullptr};
        ::fexecve(program, argp.data(), env);
        ::_exit(127);
    }
    ::close(program);
    ::close(err[1]);
    Outcome outcome;
    char buffer[512];
    for (ssize_t n; (n = ::read(err[0], buffer, sizeof buffer)) > 0;)
        outcome.errors.append(buffer, static_cast<std::size_t>(n));
    ::close(err[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

class Launch : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root for a mount namespace and another user's folders";
    }
};

TEST_F(Launch, AFolderAnotherUserPlantedInTheSharedTmpDoesNotStopTheStart) {
    // The guard is taken in the cache folder; the start goes on until the missing display.
    const Outcome run = RunProgram({}, [] {});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.errors.find("grafische Arbeitsumgebung"), std::string::npos) << run.errors;
}

TEST_F(Launch, APrivateFolderThatCannotBeHadIsSaidAndFails) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"--capture"}}) {
        // Another user's folder where the program keeps its own, and a cache folder that is a
        // plain file.
        const std::function<void()> plants[] = {
            [] {
                MakeFolder("/tmp/home/.cache", 0700);
                PlantForeignFolder("/tmp/home/.cache/glimmerly");
            },
            [] { Check(::close(::open("/tmp/home/.cache", O_CREAT | O_WRONLY, 0600)) == 0); },
        };
        for (const auto& plant : plants) {
            const Outcome run = RunProgram(args, plant);
            EXPECT_NE(run.exitCode, 0) << run.errors;
            EXPECT_NE(run.errors.find("Glimmerly kann nicht starten"), std::string::npos)
                << run.errors;
            EXPECT_NE(run.errors.find("/tmp/home/.cache"), std::string::npos) << run.errors;
            EXPECT_EQ(run.errors.find("grafische Arbeitsumgebung"), std::string::npos);
        }
    }
}

TEST_F(Launch, OnlyALockHeldByAnotherCopyEndsTheStartSilently) {
    // The lock is held through a descriptor the program inherits, so it is held by another open
    // file all the time the program runs.
    const Outcome run = RunProgram({}, [] {
        MakeFolder("/tmp/home/.cache", 0700);
        MakeFolder("/tmp/home/.cache/glimmerly", 0700);
        const int fd = ::open("/tmp/home/.cache/glimmerly/Screenshot", O_CREAT | O_RDWR, 0600);
        Check(fd >= 0 && ::flock(fd, LOCK_EX) == 0);
    });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errors, "");
}

} // namespace
