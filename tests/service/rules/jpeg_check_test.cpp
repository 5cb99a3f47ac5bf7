#include <gtest/gtest.h>

#include "service/rules/jpeg_check.h"
#include "tests/service/harness.h"

namespace glimmerly::service {
namespace {

TEST(JpegCheckTest, AcceptsCompleteJpegsOnly) {
    std::string jpeg = test::MakeJpeg(33, 17, 5);
    auto size = CheckJpeg(jpeg);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 33);
    EXPECT_EQ(size->height, 17);
    EXPECT_TRUE(CheckJpeg(jpeg + std::string("\0\0\r\n", 4)));
    EXPECT_TRUE(CheckJpeg(test::WithComment(jpeg, 1, 500)));
    EXPECT_FALSE(CheckJpeg(jpeg.substr(0, jpeg.size() - 1)));
    EXPECT_FALSE(CheckJpeg(jpeg.substr(1)));
    EXPECT_FALSE(CheckJpeg(""));
    EXPECT_FALSE(CheckJpeg("\xFF\xD8\xFF"));
    EXPECT_FALSE(CheckJpeg(std::string("\xFF\xD8\xFF\xE0\x00\x02\xFF\xD9", 8)));
    std::string truncatedHeader = jpeg.substr(0, 30) + std::string("\xFF\xD9", 2);
    EXPECT_FALSE(CheckJpeg(truncatedHeader));
    // libjpeg reads past bytes between the start marker and the next one, and reads no further
    // than the headers: the check itself looks at both ends.
    std::string afterStart = jpeg;
    afterStart.insert(2, 1, '\0');
    EXPECT_FALSE(CheckJpeg(afterStart));
    std::string noEnd = jpeg;
    noEnd[noEnd.size() - 2] = '\0';
    EXPECT_FALSE(CheckJpeg(noEnd));
}

} // namespace
} // namespace glimmerly::service
