// Reading UTF-8 at the edges of what is well formed: the last code point there is and the first
// past it, the ends of the surrogate range, and a sequence cut off by the end of the text (not
// of the buffer it lies in).

#include "text/cp1252.h"

#include <gtest/gtest.h>

#include <string_view>

namespace glimmerly::cp1252 {
namespace {

TEST(Utf8Edges, AWellFormedCodePointIsOneCharacterAndAnyOtherSequenceOnePerByte) {
    // U+10FFFF is the last; U+110000 is no code point, so each of its bytes is one.
    EXPECT_EQ(FromUtf8("\xF4\x8F\xBF\xBF"), "?");
    EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), "????");
    // U+D800 to U+DFFF are surrogates, U+D7FF and U+E000 lie just outside.
    EXPECT_EQ(FromUtf8("\xED\x9F\xBF"), "?");
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), "???");
    EXPECT_EQ(FromUtf8("\xED\xBF\xBF"), "???");
    EXPECT_EQ(FromUtf8("\xEE\x80\x80"), "?");
}

TEST(Utf8Edges, ASequenceEndsWithTheText) {
    // "ä" whose second byte lies beyond the text's end.
    const char bytes[] = "a\xC3\xA4";
    EXPECT_EQ(FromUtf8(std::string_view(bytes, 2)), "a?");
    EXPECT_EQ(FromUtf8(std::string_view(bytes, 3)), "a\xE4");
    const char three[] = "\xE2\x82\xAC"; // "€", cut after its first or second byte
    EXPECT_EQ(FromUtf8(std::string_view(three, 1)), "?");
    EXPECT_EQ(FromUtf8(std::string_view(three, 2)), "??");
    EXPECT_EQ(FromUtf8(std::string_view(three, 3)), "\x80");
}

} // namespace
} // namespace glimmerly::cp1252
