#pragma once
// The proxy that the current user's Internet settings name for a URL.

#include <string_view>

#include "text/text.h"

namespace qx {

// "host:port" (or a list of them, as the system gives it), or empty for a
// direct connection: no proxy set, the host bypassed, or the settings
// unreadable. An automatic configuration script (at its URL, or found by
// detection) decides where one is set; when it cannot be fetched or run,
// the fixed proxy counts, if one is set.
[[nodiscard]] Text systemProxyFor(std::string_view url);

}  // namespace qx
