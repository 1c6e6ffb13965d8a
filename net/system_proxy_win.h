#pragma once
// The proxies that the current user's Internet settings name for a URL.

#include <string_view>

#include "net/proxy_choice.h"

namespace qx {

// The ways to the URL's server in the order to try them (ProxyRoutes: a
// proxy "host:port", or empty for a direct connection). A direct connection
// alone where the settings call the URL direct: its host is bypassed, the
// fixed proxies serve other schemes only, or the script answers "DIRECT".
// No way at all (the request object's own default) where the settings name
// nothing: no proxy and no script that answered, or settings unreadable. An
// automatic configuration script (at its URL, or found by detection) decides
// where one is set; when it cannot be found, fetched or run, the fixed
// proxies count, if any are set.
//
// The settings are read at every call, so a change in Internet Options
// applies to the next request. The script's answer is kept for a while
// (ScriptAnswerCache), in one WinHTTP session for the whole process that
// also keeps the script itself. Safe to call from several threads.
[[nodiscard]] ProxyRoutes systemProxiesFor(std::string_view url);

}  // namespace qx
