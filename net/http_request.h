#pragma once
// One HTTP request through the platform's scriptable request object
// ("WinHttp.WinHttpRequest.5.1"), synchronous for the caller.
//
// The in/out and out values are variables of the caller's, passed by pointer
// in the options record; a null pointer means the caller does not want that
// value (the routine then works on a local variable).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "net/proxy_choice.h"
#include "platform/automation_object.h"
#include "text/text.h"

namespace qx {

struct HttpOptions {
    int method = 0;                      // 0 GET, 1 POST, 2 HEAD; any other value is GET
    Text body;                           // sent when bodyBytes is empty
    Text* cookies = nullptr;             // in/out: "name=value" pairs separated by ';'
    Text* returnedCookies = nullptr;     // out: the cookies this response set
    Text* headers = nullptr;             // in/out: extra header lines, CR LF separated
    Text* responseHeaders = nullptr;     // out
    std::int32_t* status = nullptr;      // out: 0 when no response arrived
    bool noRedirect = false;
    Bytes bodyBytes;                     // when non-empty, sent instead of body
    Text proxy;                          // "host:port"; empty: see direct
    // With an empty proxy: true connects directly (the object's direct
    // setting); false keeps the object's default, which on Windows is the
    // machine's WinHTTP proxy, and on a shared object whatever an earlier
    // request set.
    bool direct = false;
    int timeoutSeconds = 0;              // -1: the object's own; below 1: 15 s
    Text proxyUser;
    Text proxyPassword;
    std::optional<std::int32_t> proxyCredentialFlag;  // omitted: 1, the proxy
    const AutomationObject* sharedRequest = nullptr;  // the caller's object, instead of a new one
    // Certificate errors are never ignored unless a caller asks for it here.
    bool ignoreCertificateErrors = false;
    // A reply whose body is longer is abandoned, as soon as its length shows
    // (its Content-Length, the bytes counted so far, or its full length),
    // with the outcome of no response.
    std::size_t maxBodyBytes = SIZE_MAX;
    // out: S_OK when a response came; otherwise why not, where known: the
    // object's HRESULT or the error its events told, ERROR_WINHTTP_TIMEOUT
    // (as an HRESULT) when no response headers came in time,
    // ERROR_WINHTTP_INVALID_SERVER_RESPONSE for a body shorter than its
    // Content-Length, E_ABORT for a reply abandoned as too long.
    // HttpRequestVia reads it to decide whether the next proxy may be tried.
    HRESULT* error = nullptr;
    // out: true when the request ended at the URL it was sent to, as the
    // object's URL option tells (the same after Open and at the end); false
    // after a redirect was followed, or where the object cannot say.
    bool* atRequestedUrl = nullptr;
};

// The response body; empty when nothing was received or the object could not
// be created. A reply that the object reports as failed, or whose body is
// shorter than its Content-Length (the connection closed early), counts as
// nothing received.
//
// Timing: the object's four timeouts (timeoutSeconds) bound each phase of
// the request on their own, as a synchronous Send does on Windows: a reply
// that keeps arriving is never cut off, and a phase without progress for
// that long ends the request. Wine's object keeps none of these timeouts:
// there the wait for the response headers is bounded by the same number of
// seconds from the moment the request is sent, and a body that stalls is
// ended by Wine's own fixed 30-second timeout per read.
[[nodiscard]] Bytes HttpRequest(std::string_view url, const HttpOptions& options = {});

// The request through each way of routes in turn (a proxy, or empty for a
// direct connection, set as such), as a browser fails over along a proxy
// list. The next way is tried only when the one before could not be reached
// at all (options.error: its name did not resolve, or it refused the
// connection) and the failure came from the requested URL itself (the
// object did not follow a redirect, options.atRequestedUrl), so that no byte
// of the request has gone out: a POST is never sent twice. A timeout, any
// reply, or any other failure ends the attempts. Each attempt has the full
// per-phase timeouts. Empty routes: one attempt with the object's default.
[[nodiscard]] Bytes HttpRequestVia(const ProxyRoutes& routes, std::string_view url, HttpOptions options);

}  // namespace qx
