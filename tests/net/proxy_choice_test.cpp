// The bypass list, the proxy lists and the keeping of script answers, as
// text (the choice as a whole runs against the system's settings in
// tests/service).
#include "net/proxy_choice.h"

#include <gtest/gtest.h>

#include <cstdint>

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

struct ListCase {
    const char* list;
    const char* url;  // for the fixed list, with bypass "*.skip.test"
    ProxyRoutes routes;
};

TEST(ProxyList, FixedProxiesKeepTheirOrderPerScheme) {
    const ListCase cases[] = {
        // No proxy named: no way at all, so the object keeps its default.
        {"", "http://a.test/", {}},
        {"", "http://b.skip.test/", {}},
        {"https=", "http://a.test/", {}},
        {"p.test:1", "https://a.test/", {"p.test:1"}},
        {"p.test:1;q.test:2 r.test:3", "http://a.test/", {"p.test:1", "q.test:2", "r.test:3"}},
        {"p.test:1;https=s.test:1;https=t.test:2", "https://a.test/", {"s.test:1", "t.test:2"}},
        {"p.test:1;https=s.test:1", "http://a.test/", {"p.test:1"}},
        {"https=s.test:1", "http://a.test/", {""}},
        {"p.test:1;q.test:2", "http://b.skip.test/", {""}},
    };
    for (const ListCase& c : cases) {
        ProxySettings settings;
        settings.proxy = c.list;
        settings.bypass = "*.skip.test";
        EXPECT_EQ(fixedProxiesFor(settings, c.url), c.routes) << c.list << " | " << c.url;
    }
}

TEST(ProxyList, ScriptAnswersListProxiesAndDirect) {
    const ListCase cases[] = {
        {"a.test:8080;b.test:8080;DIRECT", "", {"a.test:8080", "b.test:8080", ""}},
        {"PROXY a.test:8080; PROXY b.test:8080; direct", "", {"a.test:8080", "b.test:8080", ""}},
        {"a.test:8080", "", {"a.test:8080"}},
        {"DIRECT", "", {""}},
        // TLS to a proxy, like SOCKS, is beyond the request object.
        {"SOCKS s.test:1080; HTTPS a.test:443", "", {""}},
        {"HTTPS a.test:443; HTTP b.test:8080; DIRECT", "", {"b.test:8080", ""}},
        {"SOCKS5 s.test:1080", "", {""}},
        {"socks=s.test:1080; PROXY socks.test:8080", "", {"socks.test:8080"}},
        {"", "", {""}},
    };
    for (const ListCase& c : cases) EXPECT_EQ(scriptProxies(c.list), c.routes) << c.list;
}

ProxySettings detecting(Text scriptUrl = {}) {
    ProxySettings settings;
    settings.autoDetect = true;
    settings.autoConfigUrl = std::move(scriptUrl);
    return settings;
}

struct CacheCase {
    const char* name;
    ProxySettings later;
    const char* url;
    std::chrono::seconds after;
    bool kept;
};

TEST(ScriptAnswerCache, KeptPerUrlAndSettingsForFiveMinutes) {
    ProxySettings fixedChanged = detecting("http://pac.test/a.pac");
    fixedChanged.proxy = "p.test:1";
    fixedChanged.bypass = "<local>";
    const CacheCase cases[] = {
        {"Again", detecting("http://pac.test/a.pac"), "http://x.test/", std::chrono::seconds(0), true},
        {"JustBeforeFiveMinutes", detecting("http://pac.test/a.pac"), "http://x.test/", std::chrono::seconds(299), true},
        {"AfterFiveMinutes", detecting("http://pac.test/a.pac"), "http://x.test/", std::chrono::seconds(300), false},
        {"AnotherUrl", detecting("http://pac.test/a.pac"), "https://x.test/", std::chrono::seconds(0), false},
        {"DetectionOff", [] { ProxySettings s = detecting("http://pac.test/a.pac"); s.autoDetect = false; return s; }(),
         "http://x.test/", std::chrono::seconds(0), false},
        {"AnotherScriptUrl", detecting("http://pac.test/b.pac"), "http://x.test/", std::chrono::seconds(0), false},
        {"FixedProxyChangedOnly", fixedChanged, "http://x.test/", std::chrono::seconds(0), true},
    };
    const ScriptAnswerCache::Clock::time_point start{std::chrono::hours(1)};
    for (const CacheCase& c : cases) {
        ScriptAnswerCache cache;
        cache.keep(detecting("http://pac.test/a.pac"), "http://x.test/", ScriptAnswer{true, {"a.test:1", ""}}, start);
        const std::optional<ScriptAnswer> kept = cache.find(c.later, c.url, start + c.after);
        ASSERT_EQ(kept.has_value(), c.kept) << c.name;
        if (kept) {
            EXPECT_EQ(kept->routes, ProxyRoutes({"a.test:1", ""})) << c.name;
        }
    }
}

// One row per cause: only "no script on this network" lasts.
TEST(ScriptAnswerCache, EachFailureKeptAsLongAsItsCause) {
    const struct {
        std::uint32_t error;
        int keptSeconds;
    } cases[] = {
        {12180, 300},  // ERROR_WINHTTP_AUTODETECTION_FAILED
        {12167, 20},   // ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT
        {12002, 20},   // ERROR_WINHTTP_TIMEOUT
        {12166, 20},   // anything else: ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT
    };
    const ScriptAnswerCache::Clock::time_point start{std::chrono::hours(1)};
    for (const auto& c : cases) {
        ScriptAnswerCache cache;
        cache.keep(detecting(), "http://x.test/", ScriptAnswer{false, {}, c.error}, start);
        for (const int after : {c.keptSeconds - 1, c.keptSeconds}) {
            const bool kept = cache.find(detecting(), "http://x.test/", start + std::chrono::seconds(after)).has_value();
            EXPECT_EQ(kept, after < c.keptSeconds) << c.error << " after " << after << " s";
        }
    }
}

}  // namespace
}  // namespace qx
