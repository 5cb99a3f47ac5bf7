#include "net/http_errors.h"
#include "net/multipart_body.h"
#include "tests/net/creation_time.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace glimmerly::net {
namespace {

using testing::TempDir;

std::string ReadAll(MultipartBody& body, std::size_t piece) {
    std::string out;
    std::string buffer(piece, '\0');
    while (true) {
        const std::size_t got = body.Read(buffer.data(), piece);
        out.append(buffer, 0, got);
        if (got < piece) {
            return out;
        }
    }
}

const std::string kBoundary = "--------120626134507089";

TEST(MultipartBody, BoundaryIsTheLocalCreationTime) {
    MultipartBody body(testing::SixthOfDecember2026(), 89);
    EXPECT_EQ(body.Boundary(), kBoundary);
    EXPECT_EQ(body.ContentTypeValue(), "multipart/form-data; boundary=" + kBoundary);

    // Made now: eight dashes and fifteen digits.
    MultipartBody now;
    ASSERT_EQ(now.Boundary().size(), 23u);
    EXPECT_EQ(now.Boundary().substr(0, 8), "--------");
    EXPECT_EQ(now.Boundary().find_first_not_of("0123456789", 8), std::string::npos);
}

TEST(MultipartBody, UploadBodyLayoutAndSize) {
    TempDir dir;
    // Every byte value, line ends and the old end-of-file mark among them: the file goes out
    // exactly as it lies on disk.
    std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(1000, '\x55');
    for (int value = 0; value < 256; ++value) {
        jpeg += char(value);
    }
    jpeg += "\r\n\x1A\n\r\n";
    const std::string path = dir.Write("screen.jpg", jpeg);

    MultipartBody body(testing::SixthOfDecember2026(), 89);
    body.AddField("filename", "screenshot");
    body.AddField("version", "3.2");
    body.AddFilePart("screenshot", path, "image/jpeg");
    EXPECT_EQ(body.TotalSize(), std::int64_t(357 + path.size() + jpeg.size()));

    const std::string expected =
        "--" + kBoundary +
        "\r\nContent-Disposition: form-data; name=\"filename\"\r\n\r\nscreenshot\r\n"
        "--" +
        kBoundary +
        "\r\nContent-Disposition: form-data; name=\"version\"\r\n\r\n3.2\r\n"
        "--" +
        kBoundary + "\r\nContent-Disposition: form-data; name=\"screenshot\"; filename=\"" + path +
        "\"\r\nContent-Type: image/jpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n" + jpeg +
        "\r\n--" + kBoundary + "--\r\n";
    body.Seek(0, 0);
    const std::string all = ReadAll(body, 1 << 20);
    EXPECT_EQ(all, expected);
    EXPECT_EQ(std::int64_t(all.size()), body.TotalSize());
    EXPECT_EQ(all.substr(all.size() - 29), "--" + kBoundary + "--\r\n");
    EXPECT_EQ(body.Position(), body.TotalSize());

    // Reading byte by byte, and in odd pieces, gives the same bytes.
    body.Seek(0, 0);
    EXPECT_EQ(ReadAll(body, 1), expected);
    body.Seek(0, 0);
    EXPECT_EQ(ReadAll(body, 7), expected);
    body.Seek(0, 0);
    EXPECT_EQ(ReadAll(body, 32768), expected);
}

TEST(MultipartBody, TextsAreInsertedUnchanged) {
    MultipartBody body(testing::SixthOfDecember2026(), 89);
    const std::string value = "say \"hi\"\r\nnext line \xFC";
    body.AddField("na\"me", value);
    EXPECT_EQ(body.TotalSize(), std::int64_t(72 + 5 + value.size() + 29));
    body.Seek(0, 0);
    const std::string all = ReadAll(body, 100);
    EXPECT_NE(all.find("name=\"na\"me\"\r\n\r\n" + value + "\r\n--"), std::string::npos);
}

TEST(MultipartBody, EmptyFileAndEmptyBody) {
    TempDir dir;
    const std::string path = dir.Write("empty.jpg", "");
    MultipartBody body(testing::SixthOfDecember2026(), 89);
    body.AddFilePart("f", path, "image/jpeg");
    EXPECT_EQ(body.TotalSize(), std::int64_t(136 + 1 + path.size() + 10 + 29));
    const std::string all = ReadAll(body, 4096);
    EXPECT_NE(all.find("binary\r\n\r\n\r\n--" + kBoundary + "--\r\n"), std::string::npos);
    EXPECT_EQ(std::int64_t(all.size()), body.TotalSize());

    MultipartBody none(testing::SixthOfDecember2026(), 89);
    EXPECT_EQ(none.TotalSize(), 29);
    EXPECT_EQ(ReadAll(none, 10), "--" + kBoundary + "--\r\n");
}

TEST(MultipartBody, SeekRules) {
    MultipartBody body(testing::SixthOfDecember2026(), 89);
    body.AddField("a", "b");
    char buffer[10];
    EXPECT_EQ(body.Read(buffer, 10), 10u);
    EXPECT_EQ(body.Position(), 10);
    EXPECT_EQ(body.Seek(5, 0), 10);  // only offset 0 from the start moves
    EXPECT_EQ(body.Seek(-3, 1), 10); // relative seeks move nothing
    EXPECT_EQ(body.Seek(0, 2), body.TotalSize());
    EXPECT_EQ(body.Position(), 10);
    EXPECT_EQ(body.Seek(0, 0), 0);
    EXPECT_EQ(body.Read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "--");
    // Restarting in the middle of a file part starts the file over as well.
    TempDir dir;
    MultipartBody withFile(testing::SixthOfDecember2026(), 89);
    withFile.AddFilePart("f", dir.Write("x", "0123456789"), "t");
    const std::string whole = ReadAll(withFile, 1000);
    withFile.Seek(0, 0);
    std::string start(whole.size() - 20, '\0');
    withFile.Read(start.data(), start.size());
    withFile.Seek(0, 0);
    EXPECT_EQ(ReadAll(withFile, 3), whole);
}

TEST(MultipartBody, WritingIsRefused) {
    MultipartBody body;
    try {
        body.Write("x", 1);
        FAIL() << "write accepted";
    } catch (const HttpError& e) {
        EXPECT_STREQ(e.what(), "Unsupported operation.");
    }
}

TEST(MultipartBody, UnopenableFileAddsNoPart) {
    TempDir dir;
    MultipartBody body(testing::SixthOfDecember2026(), 89);
    EXPECT_THROW(body.AddFilePart("f", dir.Path("missing.jpg"), "image/jpeg"), std::runtime_error);
    std::filesystem::create_directory(dir.Path("folder"));
    EXPECT_THROW(body.AddFilePart("f", dir.Path("folder"), "image/jpeg"), std::runtime_error);
    EXPECT_EQ(body.TotalSize(), 29);
}

TEST(MultipartBody, FileChangedAfterAddingKeepsTheCountedLength) {
    TempDir dir;
    const std::string path = dir.Write("grow.jpg", "abcdef");
    MultipartBody body(testing::SixthOfDecember2026(), 89);
    body.AddFilePart("f", path, "image/jpeg");
    const std::int64_t size = body.TotalSize();
    // Appended bytes are never sent: the body stays as long as it said.
    std::ofstream(path, std::ios::app) << "APPENDED";
    std::string all = ReadAll(body, 100);
    EXPECT_EQ(std::int64_t(all.size()), size);
    EXPECT_EQ(all.find("APPENDED"), std::string::npos);
    // A file cut shorter gives a shorter body; the client turns that into an error.
    std::filesystem::resize_file(path, 2);
    body.Seek(0, 0);
    all = ReadAll(body, 100);
    EXPECT_EQ(std::int64_t(all.size()), size - 4);
}

TEST(MultipartBody, DestructionClosesTheFile) {
    TempDir dir;
    const std::string path = dir.Write("f.jpg", "x");
#ifdef _WIN32
    // Windows refuses to remove a file that is open: that shows whether the body still holds it.
    {
        MultipartBody body;
        body.AddFilePart("f", path, "image/jpeg");
        body.AddFilePart("g", path, "image/jpeg");
        std::error_code held;
        EXPECT_FALSE(std::filesystem::remove(path, held));
    }
    EXPECT_TRUE(std::filesystem::remove(path));
#else
    auto countOpen = [] {
        int n = 0;
        for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            (void)entry;
            ++n;
        }
        return n;
    };
    const int before = countOpen();
    {
        MultipartBody body;
        body.AddFilePart("f", path, "image/jpeg");
        body.AddFilePart("g", path, "image/jpeg");
        EXPECT_EQ(countOpen(), before + 2);
    }
    EXPECT_EQ(countOpen(), before);
#endif
}

} // namespace
} // namespace glimmerly::net
