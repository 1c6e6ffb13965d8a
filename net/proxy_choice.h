#pragma once
// The choice of a proxy from the user's Internet settings, as pure text:
// which fixed proxy serves a URL and whether its host is on the bypass list.
// Platform-free: it builds on the host too. Asking the system for the
// settings, and running an automatic configuration script, is
// net/system_proxy_win.cpp.

#include <string_view>

#include "text/text.h"

namespace qx {

// The proxy part of the current user's Internet settings.
struct ProxySettings {
    bool autoDetect = false;  // look for a configuration script on the network
    Text autoConfigUrl;       // the configuration script's URL
    Text proxy;               // "host:port", or per scheme "http=host:port;https=host:port"
    Text bypass;              // "<local>;*.example.com;10.*"
};

// Whether a configuration script decides (found by detection or at its URL).
[[nodiscard]] bool usesScript(const ProxySettings& settings);

// The fixed proxy for url: empty (a direct connection) when there is none,
// none for the URL's scheme, or the URL's host is on the bypass list.
[[nodiscard]] Text fixedProxyFor(const ProxySettings& settings, std::string_view url);

// Whether the URL's host is on the bypass list: entries separated by ';',
// ',' or white space, each a host name or address with '*' standing for any
// characters, optionally with "scheme://" before and ":port" after it
// (both then have to match too); "<local>" stands for every host name
// without a dot. Letters match in any case.
[[nodiscard]] bool bypassed(std::string_view bypassList, std::string_view url);

}  // namespace qx
