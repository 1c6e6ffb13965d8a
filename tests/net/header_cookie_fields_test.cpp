#include <gtest/gtest.h>

#include <string>

#include "net/header_cookie.h"

namespace qx {
namespace {

struct SplitCase {
    std::string input;
    std::string name;
    std::string value;
};

TEST(HeaderNameValue, SplitAtTheFirstColonAndTrimmed) {
    const SplitCase cases[] = {
        {"Content-Type: application/x-www-form-urlencoded", "Content-Type", "application/x-www-form-urlencoded"},
        {"  Host :  localhost:8080  ", "Host", "localhost:8080"},
        {"Referer:http://a/b", "Referer", "http://a/b"},
        {"X-Empty:", "X-Empty", ""},
        {": value", "", "value"},
        {"\xA1\xA1X-Wide\xA1\xA1:\xA1\xA1v\xA1\xA1", "X-Wide", "v"},
        {"no colon here", "", ""},
        {"", "", ""},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(headerName(c.input), c.name);
        EXPECT_EQ(headerValue(c.input), c.value);
    }
}

TEST(HeaderNameValue, ColonOnlyOutsideCharacters) {
    // 0x81 0x3A is no character: the colon stands on its own there.
    EXPECT_EQ(headerName("X-\xD6\xD0: \xD6\xD0"), "X-\xD6\xD0");
    EXPECT_EQ(headerValue("X-\xD6\xD0: \xD6\xD0"), "\xD6\xD0");
    EXPECT_EQ(headerName("X\x81:1"), "X\x81");
    EXPECT_EQ(headerValue("X\x81:1"), "1");
}

TEST(CookieNameValue, SplitAtTheFirstEqualsSign) {
    const SplitCase cases[] = {
        {"a=1", "a", "1"},
        {"a=1=2", "a", "1=2"},
        {"  sid = x y ", "sid", " x y "},
        {"  lonely  ", "lonely", ""},
        {"a=", "a", ""},
        {"=v", "", "v"},
        {"", "", ""},
        {"\xD6\xD0=\xCE\xC4", "\xD6\xD0", "\xCE\xC4"},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(cookieName(c.input), c.name);
        EXPECT_EQ(cookieValue(c.input), c.value);
    }
}

TEST(CookieNameValue, EqualsSignAfterACutCharacterStillSplits) {
    EXPECT_EQ(cookieName("n\xD6=v"), "n\xD6");
    EXPECT_EQ(cookieValue("n\xD6=v"), "v");
}

}  // namespace
}  // namespace qx
