// The choice of a fixed proxy for a URL, and the bypass list, as text.
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
        {"<local>", "http://intranet/a", true},
        {"<local>", "http://intranet.corp/a", false},
        {"<local>", "http://[::1]:8080/", false},
        {"*.speech.test", "https://token.speech.test/oauth", true},
        {"*.speech.test", "https://speech.test/oauth", false},
        {"TOKEN.Speech.Test", "https://token.speech.test:443/", true},
        {"10.*", "http://10.1.2.3/", true},
        {"10.*", "http://110.1.2.3/", false},
        {"a.test;, b.test\tc.test", "http://c.test/", true},
        {"https://a.test", "http://a.test/", false},
        {"http://a.test", "http://a.test/", true},
        {"a.test:8080", "http://a.test/", false},
        {"a.test:8080", "http://a.test:8080/", true},
        {"a.test:443", "https://a.test/", true},
        {"", "http://a/", false},
    };
    for (const BypassCase& c : cases) EXPECT_EQ(bypassed(c.list, c.url), c.bypassed) << c.list << " | " << c.url;
}

struct FixedCase {
    const char* proxy;
    const char* bypass;
    const char* url;
    const char* chosen;
};

TEST(FixedProxy, TheEntryForTheSchemeUnlessBypassed) {
    const FixedCase cases[] = {
        {"proxy.test:3128", "", "https://token.speech.test/", "proxy.test:3128"},
        {"http=web.test:80;https=secure.test:443", "", "https://token.speech.test/", "secure.test:443"},
        {"http=web.test:80;https=secure.test:443", "", "http://synthesis.speech.test/", "web.test:80"},
        {"all.test:1 HTTP=web.test:80", "", "http://s.test/", "web.test:80"},
        {"https=secure.test:443", "", "http://s.test/", ""},  // nothing for plain http: direct
        {"proxy.test:3128", "<local>;*.speech.test", "https://token.speech.test/", ""},
        {"", "", "http://s.test/", ""},
    };
    for (const FixedCase& c : cases) {
        ProxySettings settings;
        settings.proxy = c.proxy;
        settings.bypass = c.bypass;
        EXPECT_EQ(fixedProxyFor(settings, c.url), c.chosen) << c.proxy << " | " << c.url;
    }
}

}  // namespace
}  // namespace qx
