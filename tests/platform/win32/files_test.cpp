// The Win32 pieces that need no display: the single-instance mutex, files and the careful read of
// a dropped file.

#include "platform/file_read.h"
#include "platform/win32/win32_parts.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Win32SingleInstance, ASecondCopySeesTheMutexUntilTheFirstEnds) {
    const std::string name = "GlimmerlyTest" + std::to_string(::GetCurrentProcessId());
    auto first = AcquireNamedMutex(name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(AcquireNamedMutex(name), nullptr);
    EXPECT_EQ(AcquireNamedMutex(name), nullptr) << "a refused copy must not free the name";
    first.reset();
    EXPECT_NE(AcquireNamedMutex(name), nullptr);
}

TEST(Win32Files, TheTemporaryFolderEndsInADelimiterAndTakesFiles) {
    Win32Files files;
    const std::string dir = files.TempDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    const std::string path = dir + "glimmerly-test-" + std::to_string(::GetCurrentProcessId());
    files.WriteFile(path, Bytes("abc"));
    EXPECT_EQ(ReadAll(path), "abc");
    EXPECT_TRUE(files.DeleteFile(path));
}

TEST(Win32Files, WriteMoveAndDeleteKeepTheBytes) {
    testing::TempDir tmp;
    Win32Files files;
    const std::string a = tmp.Path("a.jpg"), b = tmp.Path("b.jpg");
    std::string big(100000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    files.WriteFile(a, Bytes(big));
    EXPECT_EQ(ReadAll(a), big);
    files.WriteFile(a, Bytes("short")); // replaces, no old tail left
    EXPECT_EQ(ReadAll(a), "short");

    tmp.Write("b.jpg", "older");
    EXPECT_TRUE(files.MoveFile(a, b));
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_EQ(ReadAll(b), "short");
    EXPECT_FALSE(files.MoveFile(a, b)) << "the source is gone";

    EXPECT_FALSE(files.DeleteFile(tmp.Root().string()));
    EXPECT_TRUE(files.DeleteFile(b));
    EXPECT_FALSE(std::filesystem::exists(b));
    EXPECT_FALSE(files.DeleteFile(b));
}

TEST(Win32Files, AFileThatCannotBeCreatedIsReportedByName) {
    testing::TempDir tmp;
    Win32Files files;
    const std::string path = tmp.Path("missing") + "\\screen.jpg";
    try {
        files.WriteFile(path, Bytes("x"));
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Win32DroppedFile, OnlyARegularFileWithinTheLimitIsRead) {
    testing::TempDir tmp;
    std::string bytes = "BM";
    bytes += std::string("\0\xff\x10", 3);
    const std::string path = tmp.Write("dropped.bmp", bytes);

    FileRead read = ReadRegularFile(path, 100);
    ASSERT_TRUE(read.bytes) << read.refusal;
    EXPECT_EQ(*read.bytes, bytes);

    read = ReadRegularFile(path, 4);
    EXPECT_FALSE(read.bytes);
    EXPECT_NE(read.refusal.find("zu groß"), std::string::npos) << read.refusal;

    read = ReadRegularFile(tmp.Root().string(), 100);
    EXPECT_FALSE(read.bytes) << "a folder";
    EXPECT_FALSE(read.refusal.empty());

    read = ReadRegularFile(tmp.Path("nothing.bmp"), 100);
    EXPECT_FALSE(read.bytes);
    EXPECT_FALSE(read.refusal.empty());
}

TEST(Win32DroppedFile, APipeIsRefusedWithoutWaitingForIt) {
    // A pipe whose other end never writes: reading from it would wait for ever.
    const std::string name =
        "\\\\.\\pipe\\glimmerly-test-" + std::to_string(::GetCurrentProcessId());
    HANDLE server = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096,
                                       4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    const FileRead read = ReadRegularFile(name, 1000);
    ::CloseHandle(server);
    EXPECT_FALSE(read.bytes);
    EXPECT_FALSE(read.refusal.empty());
}

} // namespace
} // namespace glimmerly::platform::win32
