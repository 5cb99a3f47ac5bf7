#include <gtest/gtest.h>

#include "service/http/multipart.h"
#include "tests/service/harness.h"

namespace glimmerly::service {
namespace {

using test::kBoundary;

TEST(MultipartTest, ReadsTheClientsBodyLayout) {
    test::UploadFields fields;
    fields.screenshotName = "Gr\xFCn \"quoted\"";
    fields.sessionName = "team";
    fields.path = "C:\\Temp\\screen.jpg";
    std::string jpeg = std::string("\xFF\xD8 binary \r\n-- data \r\n\xFF\xD9", 22);
    std::string body = test::UploadBody(jpeg, fields);
    auto parts = ParseMultipart(body, kBoundary);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 5u);
    EXPECT_EQ(FindPart(*parts, "filename")->data, "screenshot");
    EXPECT_EQ(FindPart(*parts, "version")->data, "3.2");
    EXPECT_EQ(FindPart(*parts, "screenshotname")->data, "Gr\xFCn \"quoted\"");
    EXPECT_EQ(FindPart(*parts, "sessionname")->data, "team");
    const FormPart* file = FindPart(*parts, "screenshot");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->filename, "C:\\Temp\\screen.jpg");
    EXPECT_EQ(file->contentType, "image/jpeg");
    EXPECT_EQ(file->data, jpeg);
    EXPECT_FALSE(FindPart(*parts, "filename")->filename);
    EXPECT_EQ(FindPart(*parts, "nothing"), nullptr);
}

// A part's head (its header lines) may take 8192 bytes, not one more.
TEST(MultipartTest, PartHeadsUpToTheirLimit) {
    auto body = [](std::size_t headSize) {
        std::string head = "Content-Disposition: form-data; name=\"a\"\r\nX-Pad: ";
        head.resize(headSize, 'p');
        return "--" + std::string(kBoundary) + "\r\n" + head + "\r\n\r\nwert\r\n--" +
               std::string(kBoundary) + "--\r\n";
    };
    const std::string longest = body(8192); // the parts point into it
    auto parts = ParseMultipart(longest, kBoundary);
    ASSERT_TRUE(parts);
    EXPECT_EQ(FindPart(*parts, "a")->data, "wert");
    EXPECT_FALSE(ParseMultipart(body(8193), kBoundary));
}

TEST(MultipartTest, BoundaryFromContentType) {
    EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=--------120626134507089"),
              "--------120626134507089");
    EXPECT_EQ(MultipartBoundary("Multipart/Form-Data; charset=x; boundary=\"a b\""), "a b");
    EXPECT_FALSE(MultipartBoundary("multipart/form-data"));
    EXPECT_FALSE(MultipartBoundary("text/plain; boundary=x"));
    EXPECT_FALSE(MultipartBoundary("multipart/form-data; boundary="));
    EXPECT_FALSE(MultipartBoundary("multipart/form-data; boundary=" + std::string(201, 'a')));
}

TEST(MultipartTest, MalformedBodiesAreRejected) {
    std::string body = test::UploadBody("data");
    EXPECT_FALSE(ParseMultipart(body, "other"));
    EXPECT_FALSE(ParseMultipart(body.substr(0, body.size() - 30), kBoundary));
    EXPECT_FALSE(ParseMultipart("", kBoundary));
    EXPECT_FALSE(ParseMultipart(body, ""));
    std::string open = std::string("--") + kBoundary;
    EXPECT_FALSE(ParseMultipart(open + "\r\nContent-Type: x\r\n\r\nv\r\n" + open + "--",
                                kBoundary)); // no name
    EXPECT_FALSE(ParseMultipart(open + "junk", kBoundary));
    EXPECT_FALSE(
        ParseMultipart(open + "\r\n" + std::string(10000, 'h') + "\r\n\r\nv\r\n" + open + "--",
                       kBoundary)); // endless head
    // An empty form and a preamble are fine.
    auto empty = ParseMultipart(open + "--\r\n", kBoundary);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    auto preamble = ParseMultipart("ignored\r\n" + body, kBoundary);
    ASSERT_TRUE(preamble);
    EXPECT_EQ(preamble->size(), 3u);
}

} // namespace
} // namespace glimmerly::service
