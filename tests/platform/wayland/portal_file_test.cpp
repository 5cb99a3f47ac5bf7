// The portal's picture file: read and removed when it is plainly the one just written for us,
// left alone in every other case, whatever path the answer names.

#include "platform/wayland/portal_file.h"

#include "tests/support/guarded_fifo.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace glimmerly::platform::wayland {
namespace {

namespace fs = std::filesystem;

timespec Now(time_t plusSeconds = 0) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec += plusSeconds;
    return now;
}

std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class PortalFileTest : public ::testing::Test {
protected:
    // A file the program must not lose: `name` in the folder, with its own bytes.
    std::string Precious(const std::string& name) { return dir.Write(name, "mein " + name); }
    void ExpectUntouched(const std::string& path) {
        EXPECT_EQ(Content(path), "mein " + fs::relative(path, dir.Root()).string()) << path;
    }
    // The answer of a successful portal call for a request sent just now.
    FileRead Answer(const std::string& path) { return TakeAnswerFile(0, path, Now()); }

    glimmerly::testing::TempDir dir{"glimmerly-portal"};
};

TEST_F(PortalFileTest, TheFreshFileIsReadAndRemoved) {
    const timespec requested = Now(-1);
    const std::string bytes(200000, '\x89');
    const std::string path = dir.Write("Screenshot.png", bytes);
    const FileRead read = TakeAnswerFile(0, path, requested);
    ASSERT_TRUE(read.bytes) << read.refusal;
    EXPECT_EQ(*read.bytes, bytes);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));

    // Doubled slashes and "." lead nowhere else.
    const std::string again = dir.Write("again.png", "png");
    const std::string root = dir.Root().string();
    EXPECT_EQ(Answer("/" + root + "/./" + "again.png").bytes, "png");
    EXPECT_FALSE(fs::exists(again));
}

TEST_F(PortalFileTest, AFailedAnswerTouchesNoFile) {
    const std::string path = Precious("out.png");
    for (unsigned response : {1u, 2u}) {
        const FileRead read = TakeAnswerFile(response, path, Now());
        EXPECT_FALSE(read.bytes);
        EXPECT_EQ(read.refusal, "der Desktop hat es abgelehnt");
        ExpectUntouched(path);
    }
    EXPECT_EQ(Answer("").refusal, "die Antwort nennt keine Bilddatei");
}

TEST_F(PortalFileTest, AFileThatMayNotBeOursIsLeftAlone) {
    // Through a linked folder, and out of a folder by "..".
    fs::create_directory(dir.Root() / "real");
    const std::string inReal = Precious("real/bild.png");
    fs::create_directory_symlink(dir.Root() / "real", dir.Root() / "via");
    fs::create_directory(dir.Root() / "shots");
    const std::string beside = Precious("beside.png");
    // A link in the file's own place, and a second name of the file.
    const std::string target = Precious("target.png");
    fs::create_symlink(target, dir.Path("link.png"));
    const std::string linked = Precious("linked.png");
    fs::create_hard_link(linked, dir.Path("second.png"));
    // Older than the request.
    const std::string old = Precious("old.png");

    struct Probe {
        std::string path;
        std::string kept;
        std::string refusal;
        timespec requested = Now();
    };
    const Probe probes[] = {
        {dir.Path("via/bild.png"), inReal, "Verknüpfung oder keinen Ordner"},
        {dir.Path("shots/../beside.png"), beside, "Pfad der Bilddatei ist ungültig"},
        {"shots/../beside.png", beside, "Pfad der Bilddatei ist ungültig"},
        {dir.Path("link.png"), target, "ist eine Verknüpfung"},
        {dir.Path("second.png"), linked, "andere Namen"},
        {dir.Path("old.png"), old, "älter als die Anfrage", Now(60)},
    };
    for (const Probe& probe : probes) {
        const FileRead read = TakeAnswerFile(0, probe.path, probe.requested);
        EXPECT_FALSE(read.bytes) << probe.path;
        EXPECT_NE(read.refusal.find(probe.refusal), std::string::npos) << read.refusal;
        ExpectUntouched(probe.kept);
    }
    EXPECT_TRUE(fs::is_symlink(dir.Path("link.png")));
    EXPECT_TRUE(fs::exists(dir.Path("second.png")));
}

TEST_F(PortalFileTest, AFileOfAnotherUserIsNeitherReadNorRemoved) {
    const std::string theirs = Precious("out.png");
    const int fd = ::open(theirs.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const bool given = ::fchown(fd, ::geteuid() + 4242, ::getegid() + 4242) == 0;
    ::close(fd);
    if (!given)
        GTEST_SKIP() << "only root can give a file to another user";
    const FileRead read = Answer(theirs);
    EXPECT_FALSE(read.bytes);
    EXPECT_EQ(read.refusal, "die Bilddatei gehört einem anderen Benutzer");
    ExpectUntouched(theirs);
}

TEST_F(PortalFileTest, NoRegularFileIsRefusedWithoutWaiting) {
    glimmerly::testing::GuardedFifo pipe(dir.Path("out.png"));
    fs::create_directory(dir.Root() / "folder.png");
    for (const std::string& path : {pipe.Path(), dir.Path("folder.png")}) {
        const FileRead read = Answer(path);
        EXPECT_FALSE(read.bytes);
        EXPECT_EQ(read.refusal, "die Bilddatei ist keine gewöhnliche Datei") << path;
        EXPECT_TRUE(fs::exists(path));
    }
    EXPECT_FALSE(pipe.WriterWasNeeded());
    EXPECT_NE(Answer(dir.Path("missing.png")).refusal.find("nicht zu öffnen"), std::string::npos);
}

TEST_F(PortalFileTest, AnOwnFreshFileTooLargeIsRemovedUnread) {
    const std::string big = dir.Write("big.png", std::string(1000, 'x'));
    const FileRead read = TakeAnswerFile(0, big, Now(), 999);
    EXPECT_FALSE(read.bytes);
    EXPECT_EQ(read.refusal, "die Bilddatei ist zu groß");
    EXPECT_FALSE(fs::exists(big));
}

} // namespace
} // namespace glimmerly::platform::wayland
