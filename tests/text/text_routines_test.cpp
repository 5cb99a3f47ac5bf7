#include "text/text_routines.h"

#include <gtest/gtest.h>

#include <vector>

namespace glimmerly {
namespace {

TEST(TextRoutines, BeforeAndAfterUseTheFirstOccurrence) {
    EXPECT_EQ(TextBefore("a_b_c", "_"), "a");
    EXPECT_EQ(TextAfter("a_b_c", "_"), "b_c");
    EXPECT_EQ(TextBefore("a::b::c", "::"), "a");
    EXPECT_EQ(TextAfter("a::b::c", "::"), "b::c");
    EXPECT_EQ(TextBefore("abc", "_"), "abc");
    EXPECT_EQ(TextAfter("abc", "_"), "");
    // An empty delimiter never occurs.
    EXPECT_EQ(TextBefore("abc", ""), "abc");
    EXPECT_EQ(TextAfter("abc", ""), "");
    EXPECT_EQ(TextAfter("abc_", "_"), "");
}

TEST(TextRoutines, StartsWithIsExact) {
    EXPECT_TRUE(StartsWith("abc", "ab"));
    EXPECT_FALSE(StartsWith("ab", "abc"));
    EXPECT_FALSE(StartsWith("Abc", "ab"));
    EXPECT_TRUE(StartsWith("", ""));
    EXPECT_TRUE(StartsWith("x", ""));
    EXPECT_FALSE(StartsWith("https://x", "http://"));
}

TEST(NextField, SplitsTheUploadReply) {
    std::string text = "ok|3.2|rest";
    std::string field;
    NextField(text, '|', field);
    EXPECT_EQ(field, "ok");
    EXPECT_EQ(text, "3.2|rest");
    NextField(text, '|', field);
    EXPECT_EQ(field, "3.2");
    EXPECT_EQ(text, "rest");
    NextField(text, '|', field);
    EXPECT_EQ(field, "");
    EXPECT_EQ(text, "rest");
}

TEST(NextField, LeadingBarYieldsOneEmptyFieldPerCall) {
    std::string text = "|x|y";
    std::string field = "stale";
    NextField(text, '|', field);
    EXPECT_EQ(field, "");
    EXPECT_EQ(text, "x|y");

    text = "||http://h/a|b";
    NextField(text, '|', field);
    EXPECT_EQ(text, "|http://h/a|b");
    NextField(text, '|', field);
    EXPECT_EQ(field, "");
    EXPECT_EQ(text, "http://h/a|b");
}

TEST(NextField, LeavesDegenerateTextsAlone) {
    for (std::string given : {"|", "||", "", "   ", "no bar"}) {
        std::string text = given;
        std::string field = "stale";
        NextField(text, '|', field);
        EXPECT_EQ(field, "") << given;
        EXPECT_EQ(text, given);
    }
}

TEST(NextField, TextOfDelimitersOnlyReportsAndEmptiesBoth) {
    std::vector<std::string> shown;
    std::string text = ",,,";
    std::string field = "stale";
    NextField(text, ',', field, [&](const std::string& m) { shown.push_back(m); });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "s: ,,,|del:,");
    EXPECT_EQ(text, "");
    EXPECT_EQ(field, "");
}

TEST(NextField, DefaultSinkReceivesTheMessageWhenNoneIsGiven) {
    std::vector<std::string> shown;
    SetNextFieldMessageSink([&](const std::string& m) { shown.push_back(m); });
    std::string text = ";;";
    std::string field;
    NextField(text, ';', field);
    SetNextFieldMessageSink({});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "s: ;;|del:;");
}

TEST(NextField, OtherDelimiterSkipsItsLeadingRun) {
    std::string text = ",,a,b";
    std::string field;
    NextField(text, ',', field);
    EXPECT_EQ(field, "a");
    EXPECT_EQ(text, "b");
}

// A text of nothing but codes up to 32 (the delimiter among them) is blank and left alone; "!"
// (33) is a character.
TEST(NextField, BlankEndsAtCode32) {
    std::string text = "\t \t";
    std::string field = "stale";
    NextField(text, '\t', field);
    EXPECT_EQ(text, "\t \t");
    EXPECT_EQ(field, "");
    text = "! ";
    NextField(text, ' ', field);
    EXPECT_EQ(field, "!");
    EXPECT_EQ(text, "");
}

TEST(TextRoutines, TrimControls) {
    EXPECT_EQ(TrimControls("  Demo  "), "Demo");
    EXPECT_EQ(TrimControls("\x01\t x \r\n"), "x");
    EXPECT_EQ(TrimControls("   "), "");
    EXPECT_EQ(TrimControls("\xA0x\xA0"), "\xA0x\xA0"); // no-break space is code 160
}

} // namespace
} // namespace glimmerly
