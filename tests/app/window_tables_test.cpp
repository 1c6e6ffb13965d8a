#include "app/window_tables.h"

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(NumberItemText, DropsTrailingZerosAndPoint) {
    struct Case {
        double value;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {0.0, L"0"}, {5.0, L"5"}, {9.0, L"9"}, {10.0, L"10"}, {15.0, L"15"},
        {2.5, L"2.5"}, {0.125, L"0.125"}, {100.0, L"100"}, {-1.0, L"-1"},
    };
    for (const Case& c : cases) EXPECT_EQ(numberItemText(c.value), c.expected) << c.value;
}

TEST(NumberItemText, ListsHoldTheDecimalTextsFromZero) {
    for (int n = 1; n <= kVolumeItems; ++n) EXPECT_EQ(numberItemText(n - 1.0), std::to_wstring(n - 1));
}

TEST(CounterText, IsThePrefixAndThePlainCount) {
    EXPECT_EQ(counterText(0), L"长度限制1024，当前：0");
    EXPECT_EQ(counterText(5), L"长度限制1024，当前：5");
    EXPECT_EQ(counterText(12345), L"长度限制1024，当前：12345");
}

TEST(SpeakerTable, NamesAndNumbersInListOrder) {
    const wchar_t* names[] = {L"安雅", L"墨川", L"清远-基础", L"果果", L"清远-精品", L"兰溪",
                              L"景行", L"禾苗", L"糖糖",     L"星星", L"若晴"};
    const char* numbers[] = {"0", "1", "3", "4", "5003", "5118", "106", "110", "111", "103", "5"};
    ASSERT_EQ(kSpeakers.size(), 11u);
    const std::vector<Text> table = speakerNumberTable();
    ASSERT_EQ(table.size(), 11u);
    for (std::size_t i = 0; i < kSpeakers.size(); ++i) {
        EXPECT_EQ(kSpeakers[i].displayName, names[i]) << i;
        EXPECT_EQ(table[i], numbers[i]) << i;
    }
    EXPECT_EQ(table[4], "5003");  // 清远-精品
    EXPECT_EQ(table.back(), "5");  // 若晴
}

TEST(ListSizes, MatchTheWindow) {
    EXPECT_EQ(kSpeedItems, 10);
    EXPECT_EQ(kPitchItems, 10);
    EXPECT_EQ(kVolumeItems, 16);
    EXPECT_LT(kSpeedSelection, kSpeedItems);
    EXPECT_LT(kVolumeSelection, kVolumeItems);
}

}  // namespace
}  // namespace qx
