#pragma once
// The choice of a proxy from the user's Internet settings, as pure text:
// which fixed proxies serve a URL, whether its host is on the bypass list,
// what a configuration script's answer lists, and how long such an answer
// is kept. Platform-free: it builds on the host too. Asking the system for
// the settings, and running an automatic configuration script, is
// net/system_proxy_win.cpp.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

#include "text/text.h"

namespace qx {

// The ways to a server, to be tried in this order: a proxy ("host:port"),
// or an empty text for a direct connection. An empty list names no way at
// all: the request object then keeps its own default, which on Windows is
// the machine's WinHTTP proxy ("netsh winhttp set proxy"), not a direct
// connection.
using ProxyRoutes = std::vector<Text>;

// The proxy part of the current user's Internet settings.
struct ProxySettings {
    bool autoDetect = false;  // look for a configuration script on the network
    Text autoConfigUrl;       // the configuration script's URL
    Text proxy;               // "host:port", or per scheme "http=host:port;https=host:port"
    Text bypass;              // "<local>;*.example.com;10.*"
};

// Whether a configuration script decides (found by detection or at its URL).
[[nodiscard]] bool usesScript(const ProxySettings& settings);

// The fixed proxies for url, in their order: those named for the URL's
// scheme ("https=a:1;https=b:2"), else those named for every scheme. A
// direct connection alone when proxies are set but none for this scheme, or
// the URL's host is on the bypass list; no way at all (the object's default)
// when the settings name no proxy.
[[nodiscard]] ProxyRoutes fixedProxiesFor(const ProxySettings& settings, std::string_view url);

// The proxy list of a configuration script's answer, as the system hands it
// over: entries separated by ';' or white space, "DIRECT" for a direct
// connection where the list has it. The script's own keywords "PROXY" and
// "HTTP" are dropped where they were kept. SOCKS entries and "HTTPS" ones (a
// proxy spoken to over TLS) are skipped: the request object can speak
// neither to a SOCKS proxy nor TLS to a proxy. A direct connection alone
// when nothing usable is left.
[[nodiscard]] ProxyRoutes scriptProxies(std::string_view answer);

// What looking for and running the configuration script gave for a URL.
struct ScriptAnswer {
    bool found = false;  // false: no script found, fetched or run
    ProxyRoutes routes;  // when found
    // When not found: the system's error code, which says how long the
    // failure may be kept (ScriptAnswerCache::lifetimeOf).
    std::uint32_t failure = 0;
};

// The system's error for "no configuration script on this network"
// (ERROR_WINHTTP_AUTODETECTION_FAILED).
inline constexpr std::uint32_t kNoScriptOnNetwork = 12180;

// Script answers kept for a while, so that a search for the script (slow on
// a network without one) is not made again at every request. An answer is
// kept for the URL together with the settings that led to it: a change of
// automatic detection or of the script's URL misses. Not thread-safe.
class ScriptAnswerCache {
public:
    using Clock = std::chrono::steady_clock;
    // An answer, and the finding that this network has no script, are kept
    // for minutes: a laptop that moves to another network (undocked, taken
    // home) should look again soon, but moving takes minutes, while a series
    // of Starts on one network comes seconds apart, and a search on a network
    // without a script is exactly what costs seconds. Any other failure (the
    // script could not be downloaded, a timeout, a script that did not run)
    // may pass within moments: the network not up yet after a resume, the
    // script's server hiccupping once. It is kept only long enough that a
    // failure which itself took the look-up's timeouts is not waited for
    // again at once. docs/network.md gives the figures and reasons.
    static constexpr std::chrono::minutes kLifetime{5};
    static constexpr std::chrono::seconds kTransientLifetime{20};
    [[nodiscard]] static Clock::duration lifetimeOf(const ScriptAnswer& answer);
    // The program asks for two URLs; more keys than this only come from a
    // change of settings, and the stale entries then go.
    static constexpr std::size_t kMostEntries = 16;

    [[nodiscard]] std::optional<ScriptAnswer> find(const ProxySettings& settings, std::string_view url,
                                                   Clock::time_point now) const;
    void keep(const ProxySettings& settings, std::string_view url, ScriptAnswer answer, Clock::time_point now);

private:
    using Key = std::tuple<bool, Text, Text>;  // detect, script URL, URL
    struct Entry {
        ScriptAnswer answer;
        Clock::time_point kept;
    };
    std::map<Key, Entry> entries_;
};

// Whether the URL's host is on the bypass list: entries separated by ';',
// ',' or white space, each a host name or address with '*' standing for any
// characters, optionally with "scheme://" before and ":port" after it
// (both then have to match too); "<local>" stands for every host name
// without a dot. Letters match in any case.
[[nodiscard]] bool bypassed(std::string_view bypassList, std::string_view url);

}  // namespace qx
