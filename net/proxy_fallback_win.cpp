#include "net/http_request.h"

#include <winhttp.h>

namespace qx {
namespace {

// Failures that come before anything was sent: the way's host name did not
// resolve, or nothing accepted the connection. A timeout is not one of them:
// the same code ends a wait for a reply after the request went out.
bool unreachable(HRESULT cause) noexcept {
    return cause == HRESULT_FROM_WIN32(ERROR_WINHTTP_NAME_NOT_RESOLVED) ||
           cause == HRESULT_FROM_WIN32(ERROR_WINHTTP_CANNOT_CONNECT);
}

}  // namespace

Bytes HttpRequestVia(const ProxyRoutes& routes, std::string_view url, HttpOptions options) {
    options.proxy.clear();
    options.direct = false;
    if (routes.empty()) return HttpRequest(url, options);
    HRESULT cause = S_OK;
    if (!options.error) options.error = &cause;
    bool stayed = false;
    if (!options.atRequestedUrl) options.atRequestedUrl = &stayed;
    for (std::size_t i = 0;; ++i) {
        options.proxy = routes[i];
        options.direct = routes[i].empty();
        Bytes body = HttpRequest(url, options);
        // A failure after a redirect came from the redirect's target: the
        // requested server may have taken the whole request already.
        if (i + 1 == routes.size() || !unreachable(*options.error) || !*options.atRequestedUrl) return body;
    }
}

}  // namespace qx
