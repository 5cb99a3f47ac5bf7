#include <gtest/gtest.h>

#include "service/http/request.h"

namespace glimmerly::service {
namespace {

TEST(RequestTargetTest, QueryValuesStayRaw) {
    Target t = SplitTarget("/loginsession.php?sessionname=a+b%20c");
    EXPECT_EQ(t.path, "/loginsession.php");
    EXPECT_EQ(QueryValue(t.query, "sessionname"), "a+b%20c");
    EXPECT_EQ(SplitTarget("/~demo").query, "");
    EXPECT_EQ(QueryValue("a=1&b=2&a=3", "a"), "1");
    EXPECT_EQ(QueryValue("a=1&b=2", "b"), "2");
    EXPECT_EQ(QueryValue("ab=1", "a"), std::nullopt);
    EXPECT_EQ(QueryValue("a", "a"), "");
    EXPECT_EQ(QueryValue("", "a"), std::nullopt);
}

TEST(RequestTargetTest, RenameSplitsAtTheFirstNewFilename) {
    auto q = ParseRenameQuery("filename=abc.jpg&newfilename=Tom & Jerry=1&newfilename=x");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->filename, "abc.jpg");
    EXPECT_EQ(q->newFilename, "Tom & Jerry=1&newfilename=x");
    q = ParseRenameQuery("filename=abc.jpg&newfilename=Gr\xFCn am See");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->newFilename, "Gr\xFCn am See");
    q = ParseRenameQuery("filename=&newfilename=");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->filename, "");
    EXPECT_EQ(q->newFilename, "");
    // Another order falls back to plain fields.
    q = ParseRenameQuery("newfilename=b&filename=a.jpg");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->filename, "a.jpg");
    EXPECT_EQ(q->newFilename, "b");
    EXPECT_FALSE(ParseRenameQuery("filename=a.jpg"));
    EXPECT_FALSE(ParseRenameQuery(""));
}

} // namespace
} // namespace glimmerly::service
