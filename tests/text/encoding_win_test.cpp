#include <gtest/gtest.h>

#include "text/encoding.h"

namespace qx {
namespace {

const Bytes kZhongGbk{0xD6, 0xD0};            // 中
const Bytes kZhongUtf8{0xE4, 0xB8, 0xAD};
const Bytes kZhongUtf16{0x2D, 0x4E, 0x00, 0x00};  // U+4E2D and the zero unit

TEST(AnsiToUtf16, ConvertsAndKeepsTheZeroUnit) {
    EXPECT_EQ(ansiToUtf16(kZhongGbk, kCodePageGbk), kZhongUtf16);
    EXPECT_EQ(ansiToUtf16(kZhongUtf8, kCodePageUtf8), kZhongUtf16);
    EXPECT_EQ(ansiToUtf16(toBytes("A"), kCodePageGbk), (Bytes{0x41, 0x00, 0x00, 0x00}));
    // 丂 and 文: a trail byte of 0x40, and a second character.
    EXPECT_EQ(ansiToUtf16({0x81, 0x40, 0xCE, 0xC4}, kCodePageGbk),
              (Bytes{0x02, 0x4E, 0x87, 0x65, 0x00, 0x00}));
}

TEST(AnsiToUtf16, StopsAtTheFirstZeroByte) {
    EXPECT_TRUE(ansiToUtf16({}, kCodePageGbk).empty());
    EXPECT_TRUE(ansiToUtf16({0x00, 0x41}, kCodePageGbk).empty());
    EXPECT_EQ(ansiToUtf16({0x41, 0x00, 0x42}, kCodePageGbk), (Bytes{0x41, 0x00, 0x00, 0x00}));
}

TEST(AnsiToUtf16, MalformedInputStillGivesWholeUnitsAndATerminator) {
    for (const Bytes& input : {Bytes{0xD6}, Bytes{0x41, 0xD6}, Bytes{0xD6, 0x0A}, Bytes{0xFF, 0xFF}}) {
        const Bytes utf16 = ansiToUtf16(input, kCodePageGbk);
        ASSERT_GE(utf16.size(), 4u);
        EXPECT_EQ(utf16.size() % 2, 0u);
        EXPECT_EQ(utf16[utf16.size() - 1], 0);
        EXPECT_EQ(utf16[utf16.size() - 2], 0);
    }
}

TEST(Utf16ToCodePage, ConvertsWithoutTerminator) {
    EXPECT_EQ(utf16ToCodePage(kZhongUtf16, kCodePageGbk), kZhongGbk);
    EXPECT_EQ(utf16ToCodePage(kZhongUtf16, kCodePageUtf8), kZhongUtf8);
    EXPECT_EQ(utf16ToCodePage({0x2D, 0x4E}, kCodePageUtf8), kZhongUtf8);
    EXPECT_EQ(utf16ToCodePage({0x41, 0x00, 0x20, 0x00}, kCodePageGbk), (Bytes{0x41, 0x20}));
}

TEST(Utf16ToCodePage, StopsAtTheFirstZeroUnit) {
    EXPECT_TRUE(utf16ToCodePage({}, kCodePageGbk).empty());
    EXPECT_TRUE(utf16ToCodePage({0x00, 0x00, 0x41, 0x00}, kCodePageGbk).empty());
    EXPECT_EQ(utf16ToCodePage({0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, kCodePageGbk), (Bytes{0x41}));
    // A zero byte that is half of a unit does not end the text.
    EXPECT_EQ(utf16ToCodePage({0x00, 0x4E}, kCodePageUtf8), (Bytes{0xE4, 0xB8, 0x80}));
}

TEST(Utf16ToCodePage, DanglingHalfUnitIsLeftOut) {
    EXPECT_TRUE(utf16ToCodePage({0x41}, kCodePageGbk).empty());
    EXPECT_EQ(utf16ToCodePage({0x41, 0x00, 0x42}, kCodePageGbk), (Bytes{0x41}));
}

TEST(Utf16ToCodePage, RoundTripsCodePage936) {
    const Bytes gbk{'a', 0xD6, 0xD0, 0x81, 0x40, 0xA1, 0xA1, 0xCE, 0xC4, '~'};
    EXPECT_EQ(utf16ToCodePage(ansiToUtf16(gbk, kCodePageGbk), kCodePageGbk), gbk);
}

TEST(TextToUtf8, ConvertsCodePage936) {
    EXPECT_TRUE(textToUtf8("").empty());
    EXPECT_EQ(textToUtf8("\xD6\xD0"), kZhongUtf8);
    EXPECT_EQ(textToUtf8("a \xD6\xD0\xCE\xC4"), (Bytes{'a', ' ', 0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87}));
    EXPECT_EQ(textToUtf8("\xA1\xA1"), (Bytes{0xE3, 0x80, 0x80}));  // the full-width space
}

TEST(UrlEncodeText, EncodesTheUtf8OfTheText) {
    EXPECT_EQ(urlEncodeText(""), "");
    EXPECT_EQ(urlEncodeText("\xD6\xD0"), "%E4%B8%AD");
    EXPECT_EQ(urlEncodeText("a b-\xD6\xD0"), "%61+%62%2D%E4%B8%AD");
    // The service client encodes twice.
    EXPECT_EQ(urlEncodeText(urlEncodeText("\xD6\xD0 ")), "%25%45%34%25%42%38%25%41%44%2B");
}

// The window holds any Unicode text; the program speaks code page 936. A
// character that 936 lacks becomes "?" and takes none of its neighbours.
TEST(NarrowText, CharactersOutsideCodePage936BecomeQuestionMarks) {
    EXPECT_EQ(narrowText(L"a\uD55C\u0E01b"), "a??b");  // a Hangul and a Thai letter
    const Text emoji = narrowText(L"\u4F60\U0001F600\u597D");  // 你, an emoji (a surrogate pair), 好
    ASSERT_GE(emoji.size(), 5u);
    EXPECT_EQ(emoji.substr(0, 2), "\xC4\xE3");
    EXPECT_EQ(emoji.substr(emoji.size() - 2), "\xBA\xC3");
    EXPECT_EQ(emoji.substr(2, emoji.size() - 4).find_first_not_of('?'), Text::npos) << emoji;
    // A pair cut after its first half: nothing past the cut is read.
    const std::wstring_view cutPair(L"a\U0001F600b", 2);
    const Text cut = narrowText(cutPair);
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut[0], 'a');
    EXPECT_EQ(cut.find('b'), Text::npos) << cut;
}

// A text cut after a lead byte (cut at a byte limit, say): the cut character
// is never completed from the bytes beyond the cut.
TEST(WidenText, CutLeadByteIsNotCompletedFromBeyondTheCut) {
    const std::string_view cut("\xC4\xE3\xBA\xC3", 3);  // 你好 cut after the lead byte of 好
    const std::wstring wide = widenText(cut);
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(wide[0], L'\u4F60');
    EXPECT_LE(wide.size(), 2u);
    EXPECT_EQ(wide.find(L'\u597D'), std::wstring::npos);
    const Text back = narrowText(wide);
    EXPECT_EQ(back.substr(0, 2), "\xC4\xE3");
    EXPECT_NE(back, "\xC4\xE3\xBA\xC3");
}

}  // namespace
}  // namespace qx
