#include <gtest/gtest.h>

#include <string>

#include "tests/text/exact_buffer.h"
#include "text/text_rules.h"

namespace qx {
namespace {

using test::ExactBuffer;

// Code page 936 characters whose second byte is ASCII.
constexpr std::string_view kZhong = "\xD6\xD0";  // 中, trail 0xD0
constexpr std::string_view kTrailAt = "\x81\x40";  // 丂, trail '@'
constexpr std::string_view kTrailA = "\x81\x41";  // trail 'A'

TEST(CharLength, LeadByteWithTrailIsTwoBytes) {
    EXPECT_EQ(charLength(kZhong, 0), 2u);
    EXPECT_EQ(charLength(kTrailAt, 0), 2u);
    EXPECT_EQ(charLength("a\xFE\xFE", 1), 2u);
    EXPECT_EQ(charLength("\x80\x40", 0), 2u);
}

TEST(CharLength, AsciiAndMalformedLeadsAreOneByte) {
    EXPECT_EQ(charLength("a", 0), 1u);
    EXPECT_EQ(charLength("\x7F\x41", 0), 1u);
    // A lead byte cut off at the end of the text.
    EXPECT_EQ(charLength(ExactBuffer("ab\xD6").view(), 2), 1u);
    // Bytes that cannot be a trail byte leave the lead byte on its own.
    for (const char next : {'\r', '\n', ';', '=', ':', '"', ' ', '\0', '\x3F', '\x7F', '\xFF'}) {
        const std::string text{'\xD6', next};
        SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(next)));
        EXPECT_EQ(charLength(text, 0), 1u);
        EXPECT_EQ(charLength(text, 1), 1u);
    }
}

TEST(CharLength, PastTheEndIsZero) {
    EXPECT_EQ(charLength("", 0), 0u);
    EXPECT_EQ(charLength("ab", 2), 0u);
    EXPECT_EQ(charLength("ab", 7), 0u);
}

TEST(FindText, PositionsCountBytesFromOne) {
    EXPECT_EQ(findText("abcabc", "abc"), 1u);
    EXPECT_EQ(findText("abcabc", "bc"), 2u);
    EXPECT_EQ(findText("abcabc", "abc", 2), 4u);
    EXPECT_EQ(findText("abcabc", "abc", 4), 4u);
    EXPECT_EQ(findText("abcabc", "abc", 5), 0u);
    EXPECT_EQ(findText("abcabc", "abc", 0), 1u);
    EXPECT_EQ(findText("abcabc", "abc", 100), 0u);
    EXPECT_EQ(findText("\xD6\xD0\xCE\xC4x", "x"), 5u);
    EXPECT_EQ(findText("\xD6\xD0\xCE\xC4x", "\xCE\xC4"), 3u);
}

TEST(FindText, EmptyTextOrEmptyTargetIsNeverFound) {
    EXPECT_EQ(findText("", "a"), 0u);
    EXPECT_EQ(findText("abc", ""), 0u);
    EXPECT_EQ(findText("", ""), 0u);
    EXPECT_FALSE(containsText("abc", ""));
}

TEST(FindText, CaseSensitiveUnlessAsked) {
    EXPECT_EQ(findText("Set-Cookie", "set-cookie"), 0u);
    EXPECT_EQ(findText("x SET-COOKIE", "set-cookie", 1, true), 3u);
    EXPECT_EQ(findText("x set-cookie", "SET-Cookie", 1, true), 3u);
    EXPECT_TRUE(containsText("ABC", "b", true));
    EXPECT_FALSE(containsText("ABC", "b"));
}

TEST(FindText, OnlyAsciiLettersFoldWhenIgnoringCase) {
    // '@' and '`', '[' and '{' differ by 0x20 like letters do, but are not letters.
    EXPECT_EQ(findText("@[", "`{", 1, true), 0u);
    EXPECT_EQ(findText("\xC1", "\xE1", 1, true), 0u);
}

// Every byte that a trail byte shares with ASCII, as the second byte of a
// character: none of them is found inside the character.
TEST(FindText, NeverMatchesOnATrailByte) {
    for (unsigned trail = 0x40; trail <= 0x7E; ++trail) {
        const std::string character{'\x81', static_cast<char>(trail)};
        const std::string ascii(1, static_cast<char>(trail));
        SCOPED_TRACE(ascii);
        EXPECT_EQ(findText(character, ascii), 0u);
        EXPECT_EQ(findText(character, ascii, 1, true), 0u);
        EXPECT_EQ(findText(character + ascii, ascii), 3u);
        EXPECT_EQ(findText("a" + character + "b", ascii + "b"), 0u);
    }
}

TEST(FindText, CaseFoldingLeavesTrailBytesAlone) {
    // "\x81" "a" and "\x81" "A" are different characters.
    EXPECT_EQ(findText(kTrailA, "\x81" "a", 1, true), 0u);
    EXPECT_EQ(findText(kTrailA, "\x81" "A", 1, true), 1u);
    EXPECT_EQ(findText(kTrailA, "a", 1, true), 0u);
    // Letters around the character still fold.
    EXPECT_EQ(findText("x\x81" "Ay", "X\x81" "AY", 1, true), 1u);
}

TEST(FindText, SetCookieInsideACharacterIsNotFound) {
    const std::string text = "\x81" "Set-Cookie: a=1";
    EXPECT_EQ(findText(text, "Set-Cookie"), 0u);
    EXPECT_EQ(findText(text, "set-cookie", 1, true), 0u);
    EXPECT_EQ(findText(text, "et-Cookie"), 3u);
}

TEST(FindText, StartOnASecondByteMovesToTheNextCharacter) {
    const std::string text = std::string(kTrailA) + "A";
    EXPECT_EQ(findText(text, "A"), 3u);
    EXPECT_EQ(findText(text, "A", 2), 3u);
    EXPECT_EQ(findText(std::string(kZhong) + "@", "@", 2), 3u);
}

TEST(FindText, CutLeadByteAtTheEndIsACharacterOfItsOwn) {
    const ExactBuffer cut("ab\xD6");
    EXPECT_EQ(findText(cut.view(), "\xD6"), 3u);
    EXPECT_EQ(findText(cut.view(), "b\xD6"), 2u);
    EXPECT_EQ(findText(cut.view(), "\xD6\xD0"), 0u);
    EXPECT_EQ(findText(cut.view(), "x", 3), 0u);
    EXPECT_EQ(findText(ExactBuffer("\xD6").view(), "\xD6"), 1u);
}

TEST(FindText, CutLeadByteDoesNotMatchHalfACharacter) {
    EXPECT_EQ(findText(kZhong, "\xD6"), 0u);
    EXPECT_EQ(findText("a\xD6\xD0", "a\xD6"), 0u);
    EXPECT_EQ(findText("a\xD6\xD0" "a\xD6", "a\xD6"), 4u);
}

TEST(FindText, LeadByteBeforeAnInvalidTrailLeavesThatByteVisible) {
    EXPECT_EQ(findText("\xD6;b", ";"), 2u);
    EXPECT_EQ(findText("\xD6\r\nb", "\r\n"), 2u);
    EXPECT_EQ(findText("\xD6\x7F", "\x7F"), 2u);
    EXPECT_EQ(findText("\xD6\xFF\x41", "A"), 0u);  // 0xFF leads "\xFF" "A"
}

}  // namespace
}  // namespace qx
