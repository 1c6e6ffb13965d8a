#include <gtest/gtest.h>

#include <string>

#include "net/header_cookie.h"

namespace qx {
namespace {

TEST(CollectResponseCookies, FirstPairOfEverySetCookieLine) {
    EXPECT_EQ(collectResponseCookies("Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2"), "a=1; b=2");
    EXPECT_EQ(collectResponseCookies("HTTP/1.1 200 OK\r\n"
                                     "Content-Type: text/html\r\n"
                                     "Set-Cookie: sid=x1; Path=/; HttpOnly\r\n"
                                     "Set-Cookie: lang=zh\r\n"
                                     "Set-Cookie:  t=\xD6\xD0 ; Max-Age=5\r\n"
                                     "\r\n"),
              "sid=x1; lang=zh; t=\xD6\xD0");
}

TEST(CollectResponseCookies, NoSetCookieLineGivesEmpty) {
    EXPECT_EQ(collectResponseCookies(""), "");
    EXPECT_EQ(collectResponseCookies("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n"), "");
    // Matching is case-sensitive: the request routine rewrites the name first.
    EXPECT_EQ(collectResponseCookies("set-cookie: a=1"), "");
}

TEST(CollectResponseCookies, LineWithoutColonGivesEmptyPiece) {
    EXPECT_EQ(collectResponseCookies("Set-Cookie: a=1\r\nX-Set-Cookie-Note; x\r\nSet-Cookie: b=2"),
              "a=1; ; b=2");
}

TEST(CollectResponseCookies, SetCookieInsideACharacterIsNoLine) {
    // "\x81S" is one character; the line does not hold "Set-Cookie".
    EXPECT_EQ(collectResponseCookies("X: \x81Set-Cookie: a=1\r\nSet-Cookie: b=2"), "b=2");
}

TEST(CollectResponseCookies, CutCharacterDoesNotJoinTwoLines) {
    EXPECT_EQ(collectResponseCookies("Set-Cookie: a=\xD6\r\nSet-Cookie: b=2; path=/"), "a=\xD6; b=2");
    EXPECT_EQ(collectResponseCookies("Set-Cookie: a=\xD6;path=/\r\nSet-Cookie: b=2"), "a=\xD6; b=2");
}

struct MergeCase {
    std::string cookies;
    std::string newCookies;
    std::string merged;
    std::string newCookiesAfter;
};

TEST(MergeCookies, MergesIntoTheCallersVariables) {
    const MergeCase cases[] = {
        {"a=1; b=2", "", "a=1;b=2", ""},
        {"a=1;b=2;", "a=deleted", "b=2;", "a=deleted"},
        {"c=3", "a=1; b=2", "c=3;a=1;b=2;", "a=1;b=2"},
        {"a=1;b=2;", "b=;a=5", "a=5;", "b=;a=5"},
        {"", "a=1", "a=1;", "a=1"},
        {"", " ", "", ""},
        {"a=1;a=2", "a=3", "a=3;a=2;", "a=3"},
        {"a=1", "b=1;b=2", "a=1;b=2;", "b=1;b=2"},
        {"a=1", "a=Deleted", "a=Deleted;", "a=Deleted"},
        {"a=1", "A=2", "a=1;A=2;", "A=2"},
        {"s=a b", "t = x\xA1\xA1y ", "s=ab;t=xy;", "t=xy"},
        {"a=1;;=v;n", "b=2", "a=1;b=2;", "b=2"},
        {"a=1=2", "b=3", "a=1=2;b=3;", "b=3"},
        {"a=1", ";;", "a=1;", ";;"},
        {"\xD6\xD0=1", "\xD6\xD0=2", "\xD6\xD0=2;", "\xD6\xD0=2"},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE("cookies \"" + c.cookies + "\", new \"" + c.newCookies + "\"");
        Text cookies = c.cookies;
        Text newCookies = c.newCookies;
        const Text merged = mergeCookies(cookies, newCookies);
        EXPECT_EQ(merged, c.merged);
        EXPECT_EQ(cookies, c.merged);
        EXPECT_EQ(newCookies, c.newCookiesAfter);
    }
}

TEST(MergeCookies, DeletedValueDropsCookie) {
    Text cookies = "sid=1;lang=zh;";
    Text newCookies = "sid=deleted";
    EXPECT_EQ(mergeCookies(cookies, newCookies), "lang=zh;");
    // Deleting a cookie that was never there adds nothing.
    newCookies = "gone=deleted";
    EXPECT_EQ(mergeCookies(cookies, newCookies), "lang=zh;");
}

TEST(MergeCookies, KnownNameKeepsItsPlace) {
    Text cookies = "a=1;b=2;c=3;";
    Text newCookies = "b=9; d=4";
    EXPECT_EQ(mergeCookies(cookies, newCookies), "a=1;b=9;c=3;d=4;");
}

TEST(MergeCookies, SemicolonAfterACutCharacterSeparatesPairs) {
    Text cookies = "a=\xD6;b=2";
    Text newCookies = "b=3";
    EXPECT_EQ(mergeCookies(cookies, newCookies), "a=\xD6;b=3;");
}

TEST(MergeCookies, FromResponseToNextRequest) {
    Text cookies = "sid=old; keep=1";
    Text returned = collectResponseCookies(
        "HTTP/1.1 200 OK\r\nSet-Cookie: sid=new; Path=/\r\nSet-Cookie: keep=deleted; Max-Age=0\r\n"
        "Set-Cookie: extra=\xD6\xD0\r\n");
    EXPECT_EQ(returned, "sid=new; keep=deleted; extra=\xD6\xD0");
    EXPECT_EQ(mergeCookies(cookies, returned), "sid=new;extra=\xD6\xD0;");
    EXPECT_EQ(returned, "sid=new;keep=deleted;extra=\xD6\xD0");
}

}  // namespace
}  // namespace qx
