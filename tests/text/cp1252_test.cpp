#include "text/cp1252.h"

#include <gtest/gtest.h>

namespace glimmerly::cp1252 {
namespace {

TEST(Cp1252, RoundTripsEveryByte) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(FromUtf8(ToUtf8(one)), one) << b;
    }
}

TEST(Cp1252, MapsTheHighControlRangeToItsCharacters) {
    EXPECT_EQ(ToUtf8("\x80"), "€");
    EXPECT_EQ(ToUtf8("\x8A\x9F"), "ŠŸ");
    EXPECT_EQ(FromUtf8("€ “x” – ü"), "\x80 \x93x\x94 \x96 \xFC");
}

TEST(Cp1252, UnmappableAndMalformedBecomeQuestionMarks) {
    EXPECT_EQ(FromUtf8("a\xE2\x82"), "a??");    // truncated three-byte sequence
    EXPECT_EQ(FromUtf8("\xC3\x28"), "?(");      // bad continuation byte
    EXPECT_EQ(FromUtf8("\xC0\xAF"), "??");      // overlong "/" must not become "/"
    EXPECT_EQ(FromUtf8("日本"), "??");          // outside the code page
    EXPECT_EQ(FromUtf8("😀x"), "?x");            // astral: one character, one "?"
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), "???"); // encoded surrogate
}

TEST(Cp1252, LowerCasesCodePageLetters) {
    EXPECT_EQ(ToLower(FromUtf8("ÄÖÜÀÞ×ŠŒŽŸ ß AZ")), FromUtf8("äöüàþ×šœžÿ ß az"));
    EXPECT_EQ(ToLower("\xD7"), "\xD7");
}

} // namespace
} // namespace glimmerly::cp1252
