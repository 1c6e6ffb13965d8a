#include <gtest/gtest.h>

#include "text/encoding.h"

namespace qx {
namespace {

struct EncodeCase {
    Bytes bytes;
    const char* encoded;
};

TEST(UrlEncode, EscapesEveryByteButTheSpace) {
    const EncodeCase cases[] = {
        {{}, ""},
        {toBytes("abc"), "%61%62%63"},
        {toBytes("a b"), "%61+%62"},
        {toBytes("  "), "++"},
        {{0x00, 0x41}, "%41"},
        {{0x41, 0x00, 0x42, 0x00}, "%41%42"},
        {{0x00}, ""},
        {toBytes("\r\n"), "%0D%0A"},
        {toBytes("-"), "%2D"},
        {toBytes("%2B+"), "%25%32%42%2B"},
        {{0xE4, 0xB8, 0xAD, 0xFF, 0x01}, "%E4%B8%AD%FF%01"},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.encoded);
        EXPECT_EQ(urlEncode(c.bytes), c.encoded);
    }
}

TEST(UrlEncode, EveryByteValueRoundTrips) {
    Bytes all;
    for (unsigned b = 1; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
    const Text encoded = urlEncode(all);
    Bytes decoded;
    for (std::size_t i = 0; i < encoded.size();) {
        if (encoded[i] == '+') {
            decoded.push_back(' ');
            ++i;
            continue;
        }
        ASSERT_EQ(encoded[i], '%');
        ASSERT_LE(i + 3, encoded.size());
        decoded.push_back(static_cast<std::uint8_t>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16)));
        i += 3;
    }
    EXPECT_EQ(decoded, all);
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
