#include <gtest/gtest.h>

#include <string>

#include "net/header_cookie.h"
#include "tests/text/exact_buffer.h"

namespace qx {
namespace {

// "#引号" in code page 936.
constexpr const char* kQuote = "#\xD2\xFD\xBA\xC5";

TEST(TextBetween, InnerTextBetweenTheMarkers) {
    EXPECT_EQ(textBetween("<a>x</a>", "<a>", "</a>"), "x");
    EXPECT_EQ(textBetween("k=1;k=2;", "k=", ";"), "1");
    EXPECT_EQ(textBetween("[][x]", "[", "]"), "");
    EXPECT_EQ(textBetween("a:b:c", ":", ":"), "b");
    EXPECT_EQ(textBetween("Set-Cookie: a=1; path=/", "Set-Cookie:", ";"), " a=1");
}

TEST(TextBetween, MissingOrEmptyMarkerGivesEmpty) {
    EXPECT_EQ(textBetween("abc", "x", "c"), "");
    EXPECT_EQ(textBetween("abc", "a", "x"), "");
    // The right marker is looked for behind the left one only.
    EXPECT_EQ(textBetween("c a b", "a", "c"), "");
    EXPECT_EQ(textBetween("abc", "", "c"), "");
    EXPECT_EQ(textBetween("abc", "a", ""), "");
    EXPECT_EQ(textBetween("", "a", "b"), "");
}

TEST(TextBetween, QuoteMarkerStandsForADoubleQuote) {
    const std::string json = "{\"access_token\":\"qx.abc\",\"expires_in\":2419200}";
    EXPECT_EQ(textBetween(json, std::string("access_token") + kQuote + ":" + kQuote, kQuote), "qx.abc");
    EXPECT_EQ(textBetween(json, std::string(kQuote) + "expires_in" + kQuote + ":", "}"), "2419200");
    // Only the exact marker is replaced; the text itself is never rewritten.
    EXPECT_EQ(textBetween(std::string("a") + kQuote + "b\"", "a", "\""), std::string(kQuote) + "b");
}

TEST(TextBetween, StartPositionCountsFromOne) {
    EXPECT_EQ(textBetween("[1][2][3]", "[", "]", 1), "1");
    EXPECT_EQ(textBetween("[1][2][3]", "[", "]", 2), "2");
    EXPECT_EQ(textBetween("[1][2][3]", "[", "]", 4), "2");
    EXPECT_EQ(textBetween("[1][2][3]", "[", "]", 0), "1");
    EXPECT_EQ(textBetween("[1][2][3]", "[", "]", -5), "1");
    EXPECT_EQ(textBetween("[1][2][3]", "[", "]", 9), "");
    EXPECT_EQ(textBetween("[1][2][3]", "[", "]", 1000), "");
}

TEST(TextBetween, IgnoreCaseAppliesToBothMarkers) {
    EXPECT_EQ(textBetween("<A>x</A>", "<a>", "</a>"), "");
    EXPECT_EQ(textBetween("<A>x</A>", "<a>", "</a>", 1, true), "x");
    EXPECT_EQ(textBetween("<A>x</a>", "<a>", "</A>", 1, true), "x");
}

TEST(TextBetween, MarkersMatchWholeCharactersOnly) {
    // '[' and ']' as trail bytes of 0x81 0x5B and 0x81 0x5D.
    EXPECT_EQ(textBetween("\x81[x\x81][y]", "[", "]"), "y");
    // ';' cannot be a trail byte: behind a cut character it still ends the value.
    EXPECT_EQ(textBetween("v=\xD6;", "v=", ";"), "\xD6");
    EXPECT_EQ(textBetween(test::ExactBuffer("v=\xD6").view(), "v=", "\xD6"), "");
    EXPECT_EQ(textBetween(test::ExactBuffer("v=1\xD6").view(), "v=", "\xD6"), "1");
    // The marker's cut lead byte does not match the first half of 中.
    EXPECT_EQ(textBetween("a\xD6\xD0" "b\xD6", "a", "\xD6"), "\xD6\xD0" "b");
}

}  // namespace
}  // namespace qx
