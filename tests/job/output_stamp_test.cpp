#include "job/output_stamp.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <ostream>
#include <string>

namespace qx {
namespace {

struct SecondsCase {
    const char* name;
    StampTime time;
    std::int64_t seconds;
};

void PrintTo(const SecondsCase& c, std::ostream* os) { *os << c.name; }

class StampSecondsTest : public ::testing::TestWithParam<SecondsCase> {};

TEST_P(StampSecondsTest, CountsFromLocalWallClockReference) {
    EXPECT_EQ(stampSeconds(GetParam().time), GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(
    StampSeconds, StampSecondsTest,
    ::testing::Values(SecondsCase{"Reference2024", {2024, 1, 1, 8, 0, 0}, 1704067200},
                      SecondsCase{"Reference", {1970, 1, 1, 8, 0, 0}, 0},
                      SecondsCase{"OneSecondBefore", {1970, 1, 1, 7, 59, 59}, -1},
                      SecondsCase{"LocalMidnight", {1970, 1, 1, 0, 0, 0}, -28800},
                      SecondsCase{"DayBefore", {1969, 12, 31, 8, 0, 0}, -86400},
                      SecondsCase{"LastNineDigitSecond", {2001, 9, 9, 9, 46, 39}, 999999999},
                      SecondsCase{"FirstTenDigitSecond", {2001, 9, 9, 9, 46, 40}, 1000000000},
                      SecondsCase{"LeapDay2000", {2000, 2, 29, 12, 0, 0}, 951796800},     // leap day of a 400-year century
                      SecondsCase{"NoLeapDay2100", {2100, 3, 1, 8, 0, 0}, 4107542400},      // 2100 has no leap day
                      SecondsCase{"NoLeapDay1900", {1900, 3, 1, 8, 0, 0}, -2203891200},     // nor has 1900
                      SecondsCase{"FirstPlatformDay", {1601, 1, 1, 0, 0, 0}, -11644502400}),  // the platform clock's first day
    [](const ::testing::TestParamInfo<SecondsCase>& info) { return std::string(info.param.name); });

TEST(OutputStamp, TenDigitSecondsThenFirstThreeDigitsOfR) {
    EXPECT_EQ(composeOutputStamp({2024, 1, 1, 8, 0, 0}, 12345), "1704067200123");
    EXPECT_EQ(composeOutputStamp({2024, 1, 1, 8, 0, 1}, 90000), "1704067201900");
    EXPECT_EQ(composeOutputStamp({2024, 1, 1, 8, 0, 1}, 10000), "1704067201100");
}

TEST(OutputStamp, FewerSecondDigitsTakeMoreDigitsOfR) {
    EXPECT_EQ(composeOutputStamp({2001, 9, 9, 9, 46, 39}, 12345), "9999999991234");
    EXPECT_EQ(composeOutputStamp({1970, 1, 2, 8, 0, 0}, 12345), "8640012345");
    EXPECT_EQ(composeOutputStamp({1970, 1, 1, 8, 0, 0}, 12345), "012345");
}

TEST(OutputStamp, BeforeReferenceStartsWithMinus) {
    EXPECT_EQ(composeOutputStamp({1970, 1, 1, 7, 59, 59}, 12345), "-112345");
    EXPECT_EQ(composeOutputStamp({1969, 12, 31, 8, 0, 0}, 12345), "-8640012345");
    EXPECT_EQ(composeOutputStamp({1601, 1, 1, 0, 0, 0}, 12345), "-116445024001");
}

TEST(StampNumber, StaysWithinRangeAndSpreadsOverIt) {
    std::set<int> seen;
    int low = 90000;
    int high = 10000;
    for (std::uint32_t seed = 0; seed < 20000; ++seed) {
        const int r = drawStampNumber(seed * 7919u + 1u);
        ASSERT_GE(r, 10000);
        ASSERT_LE(r, 90000);
        low = std::min(low, r);
        high = std::max(high, r);
        seen.insert(r);
    }
    // A 15-bit generator would never pass 42767.
    EXPECT_LT(low, 11000);
    EXPECT_GT(high, 89000);
    EXPECT_GT(seen.size(), 15000u);
    EXPECT_GE(drawStampNumber(0), 10000);
    EXPECT_LE(drawStampNumber(0xFFFFFFFFu), 90000);
}

TEST(OutputStamp, SameSecondDiffersOnlyInLastThreeDigits) {
    const StampTime now{2024, 6, 30, 21, 15, 7};
    const Text a = makeOutputStamp(now, 1);
    const Text b = makeOutputStamp(now, 2);
    EXPECT_EQ(a.substr(0, 10), b.substr(0, 10));
    EXPECT_NE(a, b);
}

// The local wall-clock time in seconds from 1970-01-01 08:00:00, counted by
// the platform's own calendar: the local time read as if it were UTC, as a
// FILETIME (100 ns units from 1601-01-01).
std::int64_t platformLocalSeconds() {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    FILETIME file{};
    EXPECT_TRUE(::SystemTimeToFileTime(&local, &file));
    const std::int64_t ticks = (static_cast<std::int64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    constexpr std::int64_t kReferenceTicks = 116444736000000000 + 8 * 3600 * 10000000LL;
    return (ticks - kReferenceTicks) / 10000000;
}

TEST(OutputStamp, NowIsThirteenDigitsOfTheLocalClock) {
    const std::int64_t before = platformLocalSeconds();
    const Text stamp = makeOutputStamp();
    const std::int64_t after = platformLocalSeconds();
    ASSERT_EQ(stamp.size(), 13u);
    EXPECT_EQ(stamp.find_first_not_of("0123456789"), Text::npos);
    const std::int64_t seconds = std::stoll(stamp.substr(0, 10));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    const int lastThree = std::stoi(stamp.substr(10));
    EXPECT_GE(lastThree, 100);
    EXPECT_LE(lastThree, 900);
}

}  // namespace
}  // namespace qx
