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

}  // namespace
}  // namespace qx
