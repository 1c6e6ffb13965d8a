#include <gtest/gtest.h>

#include "text/encoding.h"
#include "text/url_encode.h"

namespace qx {
namespace {

struct EncodeCase {
    Bytes bytes;
    bool query;  // kQueryEncoding, else kFormEncoding
    const char* encoded;
};

TEST(UrlEncode, EscapesEveryByteOutsideTheUnreservedSet) {
    const EncodeCase cases[] = {
        {{}, false, ""},
        {toBytes("abc"), false, "%61%62%63"},
        {toBytes("a b"), false, "%61+%62"},
        {toBytes("  "), false, "++"},
        {{0x00, 0x41}, false, "%41"},
        {{0x41, 0x00, 0x42, 0x00}, false, "%41%42"},
        {{0x00}, false, ""},
        {toBytes("\r\n"), false, "%0D%0A"},
        {toBytes("-"), false, "%2D"},
        {toBytes("%2B+"), false, "%25%32%42%2B"},
        {{0xE4, 0xB8, 0xAD, 0xFF, 0x01}, false, "%E4%B8%AD%FF%01"},
        {toBytes("AZaz09-._~"), true, "AZaz09-._~"},
        {toBytes("@[`{/:"), true, "%40%5B%60%7B%2F%3A"},  // the neighbours of the unreserved ranges
        {toBytes("a b+&#%=?"), true, "a%20b%2B%26%23%25%3D%3F"},
        {{0x41, 0x00, 0xE4, 0xB8, 0xAD}, true, "A%E4%B8%AD"},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.encoded);
        EXPECT_EQ(urlEncode(c.bytes, c.query ? kQueryEncoding : kFormEncoding), c.encoded);
    }
}

TEST(JoinBytes, KeepsAllPartsInOrder) {
    const Bytes a{1, 2};
    const Bytes none;
    const Bytes b{0, 3};
    EXPECT_EQ(joinBytes({&a, &none, &b, &a}), (Bytes{1, 2, 0, 3, 1, 2}));
    EXPECT_TRUE(joinBytes({&none, &none}).empty());
    EXPECT_TRUE(joinBytes({}).empty());
}

}  // namespace
}  // namespace qx
