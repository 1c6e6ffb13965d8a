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
    HRESULT cause = S_OK;
    if (!options.error) options.error = &cause;
    const ProxyRoutes direct{Text()};
    const ProxyRoutes& ways = routes.empty() ? direct : routes;
    for (std::size_t i = 0;; ++i) {
        options.proxy = ways[i];
        Bytes body = HttpRequest(url, options);
        if (i + 1 == ways.size() || !unreachable(*options.error)) return body;
    }
}

}  // namespace qx
