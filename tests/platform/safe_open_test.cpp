// Reading a file somebody dropped: a regular file is read whole (also through a link); anything
// else is refused at once, without waiting for a writer.

#include "platform/posix/safe_open.h"

#include "tests/support/guarded_fifo.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace glimmerly::platform {
namespace {

namespace fs = std::filesystem;

TEST(ReadRegularFile, AFileIsReadWholeAlsoThroughALink) {
    testing::TempDir dir("glimmerly-open");
    const std::string bytes(300000, '\xFF');
    const std::string path = dir.Write("bild.jpg", bytes);
    fs::create_symlink(path, dir.Path("verweis.jpg"));
    for (const std::string& p : {path, dir.Path("verweis.jpg")}) {
        const FileRead read = ReadRegularFile(p, bytes.size());
        ASSERT_TRUE(read.bytes) << read.refusal;
        EXPECT_EQ(*read.bytes, bytes);
    }
    EXPECT_EQ(ReadRegularFile(dir.Write("leer.jpg", ""), 10).bytes, "");

    const FileRead big = ReadRegularFile(path, bytes.size() - 1);
    EXPECT_FALSE(big.bytes);
    EXPECT_EQ(big.refusal, "zu groß");
    EXPECT_EQ(ReadRegularFile(dir.Path("fehlt.jpg"), 10).refusal, "No such file or directory");
}

TEST(ReadRegularFile, PipesFoldersAndDevicesAreRefusedAtOnce) {
    testing::TempDir dir("glimmerly-open");
    glimmerly::testing::GuardedFifo pipe(dir.Path("x.jpg"));
    glimmerly::testing::GuardedFifo linked(dir.Path("ziel"));
    fs::create_symlink(linked.Path(), dir.Path("verweis.jpg"));
    fs::create_directory(dir.Root() / "ordner.jpg");
    for (const std::string& path :
         {pipe.Path(), dir.Path("verweis.jpg"), dir.Path("ordner.jpg"), std::string("/dev/zero")}) {
        const FileRead read = ReadRegularFile(path, 1000);
        EXPECT_FALSE(read.bytes) << path;
        EXPECT_EQ(read.refusal, "keine gewöhnliche Datei") << path;
    }
    EXPECT_FALSE(pipe.WriterWasNeeded());
    EXPECT_FALSE(linked.WriterWasNeeded());
}

} // namespace
} // namespace glimmerly::platform
