#include <gtest/gtest.h>

#include "service/rules/names.h"
#include "tests/support/cp1252_literal.h"

namespace glimmerly::service {
namespace {

using namespace glimmerly::testing::literals;

TEST(PictureNameTest, TypedNamesBecomeAddressSafe) {
    EXPECT_EQ(MakePictureName("Urlaub am See"), "urlaub_am_see");
    EXPECT_EQ(MakePictureName("urlaub_am_see"), "urlaub_am_see");
    EXPECT_EQ(MakePictureName("Ärger über Öl und Straße"_cp1252), "aerger_ueber_oel_und_strasse");
    EXPECT_EQ(MakePictureName("Café crème Åse Øl Šž"_cp1252), "cafe_creme_ase_ol_sz");
    EXPECT_EQ(MakePictureName("Tom & Jerry = 1+1"), "tom_jerry_1_1");
    EXPECT_EQ(MakePictureName("Plan-B 2.0"), "plan-b_2_0");
    EXPECT_EQ(MakePictureName("  --Bericht--  "), "bericht");
}

TEST(PictureNameTest, SeparatorsAndTraversalNeverSurvive) {
    EXPECT_EQ(MakePictureName("../../etc/passwd"), "etc_passwd");
    EXPECT_EQ(MakePictureName("..\\..\\win.ini"), "win_ini");
    EXPECT_EQ(MakePictureName("a/b\\c"), "a_b_c");
    EXPECT_EQ(MakePictureName(std::string("nul\0byte", 8)), "nul_byte");
    EXPECT_EQ(MakePictureName(""), "");
    EXPECT_EQ(MakePictureName("..."), "");
    EXPECT_EQ(MakePictureName("\x80\x81\xA9"), ""); // euro sign, undefined byte, ©
}

TEST(PictureNameTest, LongNamesAreCutWithoutTrailingSeparator) {
    std::string typed(59, 'a');
    typed += " bcd";
    std::string name = MakePictureName(typed);
    EXPECT_EQ(name, std::string(59, 'a'));
    EXPECT_EQ(MakePictureName(std::string(300, 'x')).size(), kMaxPictureNameLength);
}

TEST(PictureNameTest, ValidNamesAndSessions) {
    EXPECT_TRUE(IsPictureName("urlaub_am_see-2"));
    EXPECT_FALSE(IsPictureName(""));
    EXPECT_FALSE(IsPictureName("Urlaub"));
    EXPECT_FALSE(IsPictureName("a.b"));
    EXPECT_FALSE(IsPictureName("../a"));
    EXPECT_FALSE(IsPictureName("%2e"));
    // The longest name with the longest suffix a series can reach, and not a byte more.
    EXPECT_TRUE(IsPictureName(std::string(80, 'a')));
    EXPECT_FALSE(IsPictureName(std::string(81, 'a')));
    EXPECT_TRUE(IsSessionName("Team_1-a"));
    EXPECT_TRUE(IsSessionName(std::string(40, 'Z')));
    EXPECT_FALSE(IsSessionName(std::string(41, 'Z')));
    EXPECT_FALSE(IsSessionName(""));
    EXPECT_FALSE(IsSessionName("a b"));
    EXPECT_FALSE(IsSessionName("M\xFCller"));
    std::string random = RandomPictureName();
    EXPECT_EQ(random.size(), 8u);
    EXPECT_TRUE(IsPictureName(random));
    EXPECT_NE(RandomToken(), RandomToken());
    EXPECT_TRUE(IsToken(RandomToken()));
    EXPECT_TRUE(IsToken("0123456789abcdef0123456789abcdef"));
    for (const char* bad : {"0123456789abcdef0123456789abcdeg", "0123456789ABCDEF0123456789abcdef",
                            "0123456789abcdef0123456789abcde", "0123456789abcdef0123456789abcdef0",
                            "0123456789abcdef0123456789abcde/"}) {
        EXPECT_FALSE(IsToken(bad)) << bad;
    }
}

} // namespace
} // namespace glimmerly::service
