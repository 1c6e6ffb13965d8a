// The bypass list, as text (the choice as a whole runs against the system's
// settings in tests/service).
#include "net/proxy_choice.h"

#include <gtest/gtest.h>

namespace qx {
namespace {

struct BypassCase {
    const char* list;
    const char* url;
    bool bypassed;
};

TEST(ProxyBypass, EntriesMatchHostSchemeAndPort) {
    const BypassCase cases[] = {
        {"<local>", "http://intranet/a", true},       {"<local>", "http://[::1]:8080/", false},
        {"*.speech.test", "https://speech.test/", false}, {"TOKEN.Speech.Test", "https://token.speech.test:443/", true},
        {"10.*", "http://10.1.2.3/", true},           {"10.*", "http://110.1.2.3/", false},
        {"a.test;, b.test\tc.test", "http://c.test/", true},
        {"https://a.test", "http://a.test/", false},  {"http://a.test", "http://a.test/", true},
        {"a.test:8080", "http://a.test/", false},     {"a.test:443", "https://user@a.test/", true},
    };
    for (const BypassCase& c : cases) EXPECT_EQ(bypassed(c.list, c.url), c.bypassed) << c.list << " | " << c.url;
}

}  // namespace
}  // namespace qx
