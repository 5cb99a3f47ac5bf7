// Paths inside the program are UTF-8 on Windows: files are written, measured, moved, removed and
// read by names outside Windows-1252 and by paths longer than MAX_PATH, and the temporary folder
// comes back as UTF-8.

#include "platform/file_read.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_parts.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {
namespace {

// Greek and Japanese: no ANSI code page holds both.
const std::string kForeign = "Ωμέγα-日本語";

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::wstring Wide(const std::string& utf8) {
    return Utf16FromUtf8(utf8).value();
}

// The bytes of a file, read through the system's W call with the long-path prefix, so the test
// sees the disk without the code under test.
std::optional<std::string> ReadDirectly(const std::string& path) {
    HANDLE file = ::CreateFileW((L"\\\\?\\" + Wide(path)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string bytes(1 << 16, '\0');
    DWORD got = 0;
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    ::CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

// A chain of folders under the test's folder, together longer than MAX_PATH, made and removed
// with the long-path prefix (the test's own folder cannot remove what lies that deep).
class DeepFolder {
public:
    explicit DeepFolder(const std::string& root) : path_(root) {
        for (int level = 0; level < 6; ++level) {
            path_ += "\\" + std::string(45, static_cast<char>('a' + level));
            EXPECT_TRUE(::CreateDirectoryW((L"\\\\?\\" + Wide(path_)).c_str(), nullptr));
            folders_.push_back(path_);
        }
    }
    ~DeepFolder() {
        for (const std::string& file : files_)
            ::DeleteFileW((L"\\\\?\\" + Wide(file)).c_str());
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it)
            ::RemoveDirectoryW((L"\\\\?\\" + Wide(*it)).c_str());
    }
    // The path of an entry of the deepest folder, to be removed with it.
    std::string Path(const std::string& name) {
        files_.push_back(path_ + "\\" + name);
        return files_.back();
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> folders_;
    std::vector<std::string> files_;
};

TEST(Win32Paths, NamesOutsideTheCodePageAndLongPathsKeepTheirFiles) {
    testing::TempDir tmp;
    DeepFolder deep(tmp.Root().string());
    ASSERT_GT(deep.path().size(), 300u);
    Win32Files files;
    const std::string picture = "ein Bild";
    const std::string shallow = tmp.Root().string() + "\\" + kForeign;
    const std::string deepName = deep.path() + "\\" + kForeign;
    deep.Path(kForeign + ".jpg");
    deep.Path(kForeign + "-gespeichert.jpg");
    for (const std::string& name : {shallow, deepName}) {
        const std::string from = name + ".jpg";
        const std::string to = name + "-gespeichert.jpg";
        files.WriteFile(from, Bytes(picture));
        EXPECT_EQ(ReadDirectly(from), picture) << from;

        const FileRead read = ReadRegularFile(from, 100);
        ASSERT_TRUE(read.bytes) << read.refusal;
        EXPECT_EQ(*read.bytes, picture);

        EXPECT_TRUE(files.MoveFile(from, to));
        EXPECT_FALSE(ReadDirectly(from));
        EXPECT_EQ(ReadDirectly(to), picture);
        EXPECT_TRUE(files.DeleteFile(to));
        EXPECT_FALSE(ReadDirectly(to));
    }
}

// Wine takes long paths without the prefix; Windows does not (unless the machine has been set up
// for it), so what the W calls get is checked here as well.
TEST(Win32Paths, OnlyLongPathsGetThePrefixAndAreMadeWholeFirst) {
    EXPECT_EQ(WidePath("C:\\Bilder/Ωμέγα.jpg"), L"C:\\Bilder/\u03A9\u03BC\u03AD\u03B3\u03B1.jpg");
    const std::string folder(250, 'o');
    EXPECT_EQ(WidePath("C:\\" + folder + "\\weg/../bild.jpg"),
              L"\\\\?\\C:\\" + std::wstring(250, L'o') + L"\\bild.jpg");
    EXPECT_EQ(WidePath("\\\\server\\freigabe\\" + folder + "\\bild.jpg"),
              L"\\\\?\\UNC\\server\\freigabe\\" + std::wstring(250, L'o') + L"\\bild.jpg");
    const std::string prefixed = "\\\\?\\C:\\" + folder + "\\.\\bild.jpg";
    EXPECT_EQ(WidePath(prefixed), Utf16FromUtf8(prefixed)) << "already meant as it stands";
}

TEST(Win32Paths, BytesThatAreNoUtf8NameNoFile) {
    testing::TempDir tmp;
    Win32Files files;
    // "bild\xE4.jpg" is Windows-1252 for "bildä.jpg", but no UTF-8.
    const std::string ansi = tmp.Root().string() + "\\bild\xE4.jpg";
    EXPECT_THROW(files.WriteFile(ansi, Bytes("x")), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ansi)));
    const FileRead read = ReadRegularFile(ansi, 10);
    EXPECT_FALSE(read.bytes);
    EXPECT_FALSE(read.refusal.empty());
    EXPECT_FALSE(Utf16FromUtf8(std::string("a\0b", 3))) << "a zero would cut the name short";
}

TEST(Win32Paths, TheTemporaryFolderIsUtf8) {
    testing::TempDir tmp;
    const std::string folder = tmp.Root().string() + "\\" + kForeign;
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder).c_str(), nullptr));
    wchar_t saved[32768];
    const DWORD had = ::GetEnvironmentVariableW(L"TMP", saved, 32768);
    ::SetEnvironmentVariableW(L"TMP", Wide(folder).c_str());
    std::string dir;
    try {
        dir = Win32Files().TempDir();
    } catch (...) {
    }
    ::SetEnvironmentVariableW(L"TMP", had ? saved : nullptr);
    EXPECT_EQ(dir, folder + "\\");
    ::RemoveDirectoryW(Wide(folder).c_str());
}

} // namespace
} // namespace glimmerly::platform::win32
