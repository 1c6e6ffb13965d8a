#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/text/exact_buffer.h"
#include "text/text_rules.h"

namespace qx {
namespace {

using test::ExactBuffer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct SplitCase {
    std::string text;
    std::string separator;
    std::vector<std::string> pieces;
};

TEST(SplitText, PiecesFollowTheEmptyPieceRules) {
    const SplitCase cases[] = {
        {"a;b", ";", {"a", "b"}},
        {"a;;b", ";", {"a", "", "b"}},
        {"a;", ";", {"a"}},
        {"a;;", ";", {"a", ""}},
        {";a", ";", {"", "a"}},
        {";", ";", {""}},
        {"", ";", {}},
        {"abc", ";", {"abc"}},
        {"abc", "", {"abc"}},
        {"a\r\nb\r\n", "\r\n", {"a", "b"}},
        {"a\r\n\r\nb", "\r\n", {"a", "", "b"}},
        {"a\rb\nc", "\r\n", {"a\rb\nc"}},
        {"aXYbXYXc", "XY", {"a", "b", "Xc"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::vector<Text> pieces = splitText(c.text, c.separator);
        EXPECT_EQ(pieces, c.pieces);
    }
}

TEST(SplitText, SeparatorInsideACharacterDoesNotSplit) {
    // 0x81 0x7C and 0x81 0x5C: '|' and '\' as trail bytes.
    EXPECT_THAT(splitText("a\x81|b|c", "|"), ElementsAre("a\x81|b", "c"));
    EXPECT_THAT(splitText("\x81\\\\", "\\"), ElementsAre("\x81\\"));
}

TEST(SplitText, CutCharacterDoesNotSwallowTheSeparator) {
    EXPECT_THAT(splitText("a=\xD6;b=2", ";"), ElementsAre("a=\xD6", "b=2"));
    EXPECT_THAT(splitText("X: \xD6\r\nY: 2\r\n", "\r\n"), ElementsAre("X: \xD6", "Y: 2"));
    EXPECT_THAT(splitText(ExactBuffer("a;\xD6").view(), ";"), ElementsAre("a", "\xD6"));
}

TEST(ReplaceText, EveryOccurrenceLeftToRightWithoutOverlap) {
    EXPECT_EQ(replaceText("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(replaceText("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaceText("abab", "b", "bb"), "abbabb");
    EXPECT_EQ(replaceText("a-b-c", "-", ""), "abc");
    EXPECT_EQ(replaceText("abc", "x", "y"), "abc");
    EXPECT_EQ(replaceText("abc", "", "y"), "abc");
    EXPECT_EQ(replaceText("", "a", "y"), "");
    EXPECT_EQ(replaceText("\xD6\xD0\xCE\xC4\xD6\xD0", "\xD6\xD0", "<>"), "<>\xCE\xC4<>");
}

TEST(ReplaceText, IgnoringCaseRewritesEveryMixOfCase) {
    EXPECT_EQ(replaceText("set-cookie: a\r\nSET-COOKIE: b\r\nSet-cookie: c", "Set-Cookie", "Set-Cookie", true),
              "Set-Cookie: a\r\nSet-Cookie: b\r\nSet-Cookie: c");
    EXPECT_EQ(replaceText("set-cookie", "Set-Cookie", "X"), "set-cookie");
}

TEST(ReplaceText, LeavesCharactersWhole) {
    // "S" as the trail byte of 0x81 0x53 is no start of "Set-Cookie".
    EXPECT_EQ(replaceText("\x81Set-Cookie", "set-cookie", "X", true), "\x81Set-Cookie");
    EXPECT_EQ(replaceText("\x81Set-CookieSet-Cookie", "set-cookie", "X", true), "\x81Set-CookieX");
    // Case folding never turns one character into another.
    EXPECT_EQ(replaceText("\x81" "a\x81" "A", "\x81" "a", "x", true), "x\x81" "A");
    // A cut lead byte is replaced where it stands alone, not in front of a trail byte.
    EXPECT_EQ(replaceText(ExactBuffer("\xD6\xD0\xD6").view(), "\xD6", "?"), "\xD6\xD0?");
}

TEST(TrimSpaces, RemovesSpacesAndFullWidthSpacesAtBothEnds) {
    EXPECT_EQ(trimSpaces("  a b  "), "a b");
    EXPECT_EQ(trimSpaces("\xA1\xA1 a\xA1\xA1" "b \xA1\xA1"), "a\xA1\xA1" "b");
    EXPECT_EQ(trimSpaces(" \xA1\xA1 "), "");
    EXPECT_EQ(trimSpaces(""), "");
    EXPECT_EQ(trimSpaces("\t a\t"), "\t a\t");
}

TEST(TrimSpaces, FullWidthSpaceIsTakenOnCharacterBoundaries) {
    // 0xB0 0xA1 is a character, the next 0xA1 0xA1 the space.
    EXPECT_EQ(trimSpaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
    // Here the last 0xA1 is a cut lead byte behind the space.
    EXPECT_EQ(trimSpaces(ExactBuffer("x\xA1\xA1\xA1").view()), "x\xA1\xA1\xA1");
    EXPECT_EQ(trimSpaces(ExactBuffer("\xA1\xA1\xA1").view()), "\xA1");
    EXPECT_EQ(trimSpaces(ExactBuffer("a \xD6").view()), "a \xD6");
    EXPECT_EQ(trimSpaces("\xD6 "), "\xD6");
}

TEST(RemoveSpaces, RemovesEverySpaceAndFullWidthSpace) {
    EXPECT_EQ(removeSpaces(" a = 1 ;\xA1\xA1" "b=\xA1\xA1" "2 "), "a=1;b=2");
    EXPECT_EQ(removeSpaces("   "), "");
    EXPECT_EQ(removeSpaces("\xB0\xA1\xA1\xA1\xA1"), "\xB0\xA1\xA1");
    EXPECT_EQ(removeSpaces(ExactBuffer("a \xA1").view()), "a\xA1");
}

}  // namespace
}  // namespace qx
