#include "app/control_text.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace qx {
namespace {

class ControlText : public ::testing::Test {
protected:
    void SetUp() override {
        test::expectCodePageOfThisRun();
        edit_ = ::CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_MULTILINE, 0, 0, 200, 100, nullptr, nullptr,
                                  nullptr, nullptr);
        // Windows under Wine need an X display; the test scripts provide one.
        if (!edit_ && !std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
        ASSERT_NE(edit_, nullptr);
    }
    void TearDown() override {
        if (edit_) ::DestroyWindow(edit_);
    }
    HWND edit_ = nullptr;
};

// Whatever the system's ANSI code page, control texts are code page 936.
TEST_F(ControlText, ChineseTextIsGbkBothWays) {
    ::SetWindowTextW(edit_, L"你好a");
    EXPECT_EQ(windowText(edit_), "\xC4\xE3\xBA\xC3" "a");
    setWindowText(edit_, "\xD3\xEF\xD2\xF4");
    EXPECT_EQ(windowTextWide(edit_), L"语音");
}

TEST_F(ControlText, LineBreaksAndEmptyText) {
    ::SetWindowTextW(edit_, L"a\r\nb");
    EXPECT_EQ(windowText(edit_).size(), 4u);
    ::SetWindowTextW(edit_, L"");
    EXPECT_EQ(windowText(edit_), "");
    EXPECT_EQ(windowText(nullptr), "");
}

}  // namespace
}  // namespace qx
