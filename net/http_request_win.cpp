#include "net/http_request.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <new>
#include <optional>

#include <winhttp.h>

#include "net/header_cookie.h"
#include "net/request_events_win.h"
#include "platform/event_connection.h"
#include "platform/unique.h"
#include "text/text_rules.h"

namespace qx {

namespace {

// Keeps the process's multithreaded apartment alive from the first request
// on. Wine 8's request object runs an asynchronous request on worker threads
// of its own that enter and leave that apartment; when the last of them
// leaves it while this thread leaves its own apartment, Wine's combase was
// seen to crash in CoUninitialize (64-bit Wine, under load). Holding the
// apartment means it is never torn down. Windows has the call from Windows 8
// on and needs none of this; where the call is missing (Windows 7) nothing
// is done.
void holdMultithreadedApartment() noexcept {
    static const bool held = [] {
        using Increment = HRESULT(WINAPI*)(void**);
        const HMODULE ole = ::GetModuleHandleW(L"ole32.dll");
        const auto increment =
            ole ? reinterpret_cast<Increment>(reinterpret_cast<void*>(::GetProcAddress(ole, "CoIncrementMTAUsage")))
                : nullptr;
        void* cookie = nullptr;  // never decremented: held until the process ends
        return increment && SUCCEEDED(increment(&cookie));
    }();
    (void)held;
}

constexpr std::string_view kRequestProgId = "WinHttp.WinHttpRequest.5.1";
constexpr std::string_view kVerbs[] = {"GET", "POST", "HEAD"};

constexpr std::int32_t kOptionUrl = 1;
constexpr std::int32_t kOptionSslErrorIgnoreFlags = 4;
constexpr std::int32_t kOptionEnableRedirects = 6;
constexpr std::int32_t kOptionSecureProtocols = 9;
constexpr std::int32_t kSecureProtocolTls12 = 0x0800;
// Untrusted authority, wrong usage, name mismatch, outside validity dates.
constexpr std::int32_t kIgnoreAllCertificateErrors = 0x0100 | 0x0200 | 0x1000 | 0x2000;
constexpr std::int32_t kProxySettingDirect = 1;
constexpr std::int32_t kProxySettingNamedProxy = 2;
constexpr std::int32_t kDefaultProxyCredentialFlag = 1;

constexpr int kDefaultTimeoutSeconds = 15;
// With timeoutSeconds -1 the object keeps its own timeouts, of which the
// longest by default is the 60-second connect timeout; the wait for the
// response headers under Wine (below) is bounded by that.
constexpr int kObjectTimeoutsWaitSeconds = 60;
// The response is waited for in slices, so that its progress can be looked
// at between them. WaitForResponse takes whole seconds.
constexpr std::int32_t kWaitSliceSeconds = 1;

struct DefaultHeader {
    std::string_view check;
    std::string_view line;
};

Text withDefaultHeaders(Text block, std::string_view url) {
    if (block.empty()) {
        block = "Accept: */*";
    } else if (!containsText(block, "Accept:")) {
        block += "\r\nAccept: */*";
    }
    const Text referer = "Referer: " + Text(url);
    const DefaultHeader rest[] = {
        {"Referer:", referer},
        {"Accept-Language:", "Accept-Language: zh-cn"},
        {"User-Agent:",
         "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/55.0.2883.87 Safari/537.36"},
        {"Content-Type:", "Content-Type: application/x-www-form-urlencoded"},
    };
    for (const DefaultHeader& row : rest) {
        if (!containsText(block, row.check)) {
            block += "\r\n";
            block += row.line;
        }
    }
    return block;
}

void setRequestHeader(AutomationObject& request, std::string_view line) {
    (void)request.call("SetRequestHeader", {headerName(line), headerValue(line)});
}

// Wine's object starts the header text with the status line ("HTTP/1.1 200
// OK"); Windows gives the header lines alone. Callers see the same text on both.
Text withoutStatusLine(Text headers) {
    if (headers.rfind("HTTP/", 0) != 0) return headers;
    const std::size_t end = findText(headers, "\r\n");
    return end == 0 ? Text() : headers.substr(end + 1);
}

// TLS 1.2 offered wherever the system has it. Windows 7 and 8.0 offer SSL 3.0
// and TLS 1.0 only unless a program asks for more (Windows 7 needs an update
// for the object to accept TLS 1.2 at all); Windows 8.1 and later offer TLS
// 1.2 by default, and newer systems TLS 1.3 as well. So the system's own
// choice is read and TLS 1.2 only added to it: a fixed value would take TLS
// 1.3 away where the system offers it. Wine's object has no such option
// (reading and writing it fail); its TLS library offers 1.2 and 1.3 itself.
void offerTls12(AutomationObject& request) {
    const UniqueVariant current = request.get("Option", {kOptionSecureProtocols});
    if (FAILED(request.lastResult())) return;
    const VARTYPE type = current.type();
    if (type != VT_I4 && type != VT_UI4 && type != VT_INT && type != VT_UINT && type != VT_I2) return;
    const auto protocols = static_cast<std::int32_t>(variantNumber(current));
    if (protocols & kSecureProtocolTls12) return;
    (void)request.put("Option", {kOptionSecureProtocols}, protocols | kSecureProtocolTls12);
}

// The URL the object is at: the requested one after Open, the last target
// after it followed redirects (Windows documents the option for exactly that
// check). Empty where the object cannot say: Wine's object answers E_NOTIMPL
// for every option it reads but the URL code page (dlls/winhttp/request.c,
// winhttp_request_get_Option).
Text objectUrl(AutomationObject& request) {
    const UniqueVariant url = request.get("Option", {kOptionUrl});
    if (FAILED(request.lastResult()) || url.type() != VT_BSTR) return {};
    return variantText(url);
}

// The declared body length, when the response headers carry a valid one.
std::optional<std::uint64_t> declaredLength(AutomationObject& request) {
    Text value = variantText(request.call("GetResponseHeader", {"Content-Length"}));
    if (FAILED(request.lastResult())) return std::nullopt;
    // Wine's string counts its terminating zero as a character.
    value = trimSpaces(value.substr(0, value.find('\0')));
    if (value.empty() || value.size() > 19) return std::nullopt;
    std::uint64_t length = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        length = length * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return length;
}

// Under Wine the status of an asynchronous request can be read as soon as
// the response headers are in, and not before.
bool headersArrived(AutomationObject& request) {
    (void)request.get("Status");
    return SUCCEEDED(request.lastResult());
}

enum class Wait { Received, Failed, TooLarge };

struct WaitResult {
    Wait outcome = Wait::Failed;
    HRESULT cause = S_OK;  // why it failed, where the object said
    // The object had not finished when the wait ended: it may still be
    // sending, waiting or reading.
    bool underWay = false;
};

// Wine's object has no events, and its WaitForResponse answers false at once,
// without waiting, when the response was complete before the call (and never
// true after that). Windows documents false as "the time ran out" and tells
// the end through the events instead, so this reading is kept to objects
// without events: there an answer in under half a slice means complete.
bool completeWithoutEvents(std::chrono::steady_clock::duration answeredAfter) {
    return answeredAfter < std::chrono::milliseconds(kWaitSliceSeconds * 1000 / 2);
}

// Waits for the asynchronous Send to complete, looking at the response's
// progress between slices.
//
// Windows' object applies each of its four timeouts to its own phase, the
// receive timeout to every packet, exactly as in a synchronous Send; it also
// offers events, which tell when the response starts, how much of it has
// arrived and how it ended (OnResponseFinished, OnError). Such an object is
// waited for as long as it keeps working, and a WaitForResponse that answers
// false before its events have said the end only means that the slice ran out.
//
// Wine's object has no events, and keeps no timeout while it waits for the
// response headers: without a bound of our own a server that never answers
// would hold the request until it closes the connection. There the wait is
// ended when no response headers have come within `headerSeconds` of the
// send. Once they have come, Wine ends a body that stalls by itself: it reads
// each piece with a fixed timeout of 30 seconds (it ignores SetTimeouts).
WaitResult awaitResponse(AutomationObject& request, const ResponseProgress* events, int headerSeconds,
                         std::size_t maxBodyBytes) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point sent = Clock::now();
    bool started = false;
    for (;;) {
        const Clock::time_point slice = Clock::now();
        const bool done = variantTrue(request.call("WaitForResponse", {kWaitSliceSeconds}));
        if (FAILED(request.lastResult())) return {Wait::Failed, request.lastResult()};
        if (events) {
            // An error after part of the body (a connection that ends inside
            // it) is a failed request, whatever the wait answered.
            if (FAILED(events->error())) return {Wait::Failed, events->error()};
            if (done || events->finished()) return {Wait::Received};
        } else if (done || completeWithoutEvents(Clock::now() - slice)) {
            return {Wait::Received};
        }

        if (!started) {
            started = (events && events->started()) || headersArrived(request);
            if (started) {
                const std::optional<std::uint64_t> length = declaredLength(request);
                if (length && *length > maxBodyBytes) return {Wait::TooLarge, S_OK, true};
            }
        }
        if (events && events->bytes() > maxBodyBytes) return {Wait::TooLarge, S_OK, true};
        if (!events && !started && Clock::now() - sent >= std::chrono::seconds(headerSeconds)) {
            return {Wait::Failed, HRESULT_FROM_WIN32(ERROR_WINHTTP_TIMEOUT), true};
        }
    }
}

// Keeps one reference to the object until the process ends: deliberately
// never released (see abandon).
void keepUntilProcessEnds(const AutomationObject& request) noexcept {
    (void)new (std::nothrow) AutomationObject(request);
}

// Ends a request that was given up (too long, or no headers in time).
//
// Windows' object aborts its Send in Abort, asynchronous or not, as its
// documentation says, and is released as usual afterwards.
//
// Wine 8's object (the one without events) must not be released then. Its
// Send runs on a worker thread that hands each step to WinHTTP's own queue
// and waits for it: the response headers, then the body, piece by piece,
// into a buffer it grows. Abort signals the worker and returns as soon as
// the worker has seen the signal; the worker then still frees its body
// buffer and signals once more. Released in that moment, the object frees
// the same buffer again, and a buffer of tens of megabytes is by then
// unmapped: a page fault in Wine's ntdll (a 30 MB token reply over HTTPS
// under 32-bit Wine, a 70 MB synthesis reply over HTTP under 64-bit Wine,
// each given up for its length). Nor is the step queued at that moment
// cancelled: when it ends (at once while the reply keeps coming, or when the
// server closes the connection) it reports through a callback that holds
// the object's address and writes into it. A small buffer freed twice, or
// a late write into a freed object, corrupts the heap silently, to fault in
// a later request.
//
// So there the worker's end is waited for (WaitForResponse returns at its
// last signal, or after one slice when Abort has taken that already), and
// the object is kept until the process ends: a few kilobytes and one
// connection for each request given up.
void abandon(AutomationObject& request, bool underWay, bool hasEvents) {
    (void)request.call("Abort");
    if (hasEvents || !underWay) return;
    (void)request.call("WaitForResponse", {kWaitSliceSeconds});
    keepUntilProcessEnds(request);
}

// A reply whose body is shorter than its Content-Length was cut off: the
// connection closed early. Wine's object hands such a body over as complete.
// Replies that carry no body whatever their headers say are left alone.
bool cutOff(AutomationObject& request, std::string_view verb, std::int32_t status, std::size_t bodyBytes) {
    if (verb == "HEAD" || status == 204 || status == 304 || (status >= 100 && status < 200)) return false;
    const std::optional<std::uint64_t> length = declaredLength(request);
    return length && bodyBytes < *length;
}

std::int32_t truncatedStatus(double number) noexcept {
    if (!std::isfinite(number)) return 0;
    const double whole = std::trunc(number);
    if (whole < INT32_MIN || whole > INT32_MAX) return 0;
    return static_cast<std::int32_t>(whole);
}

}  // namespace

Bytes HttpRequest(std::string_view url, const HttpOptions& options) {
    const ComScope com;
    holdMultithreadedApartment();

    const bool knownMethod = options.method >= 0 && options.method < 3;
    const std::string_view verb = kVerbs[knownMethod ? options.method : 0];

    AutomationObject request;
    if (options.sharedRequest) {
        request = *options.sharedRequest;
    } else if (!request.create(kRequestProgId)) {
        if (options.error) *options.error = request.lastResult();
        return {};
    }

    Text localCookies, localReturnedCookies, localHeaders, localResponseHeaders;
    std::int32_t localStatus = 0;
    Text& cookies = options.cookies ? *options.cookies : localCookies;
    Text& returnedCookies = options.returnedCookies ? *options.returnedCookies : localReturnedCookies;
    Text& headers = options.headers ? *options.headers : localHeaders;
    Text& responseHeaders = options.responseHeaders ? *options.responseHeaders : localResponseHeaders;
    std::int32_t& status = options.status ? *options.status : localStatus;

    int waitSeconds = kObjectTimeoutsWaitSeconds;
    if (options.timeoutSeconds != -1) {
        // Milliseconds must fit the object's 32-bit arguments.
        constexpr int kLongest = INT32_MAX / 1000;
        int seconds = options.timeoutSeconds < 1 ? kDefaultTimeoutSeconds : options.timeoutSeconds;
        if (seconds > kLongest) seconds = kLongest;
        const std::int32_t ms = seconds * 1000;
        (void)request.call("SetTimeouts", {ms, ms, ms, ms});
        waitSeconds = seconds;
    }

    // A route called direct is set as direct: without a setting the object
    // uses the machine's WinHTTP proxy, and a shared object keeps the proxy
    // of its previous request.
    if (!options.proxy.empty()) {
        (void)request.call("SetProxy", {kProxySettingNamedProxy, options.proxy});
    } else if (options.direct) {
        (void)request.call("SetProxy", {kProxySettingDirect});
    }

    // Opened asynchronously, so that the wait can look at the response's
    // progress (awaitResponse); the caller still sees one blocking call.
    (void)request.call("Open", {verb, url, true});
    // Read back rather than compared with url: the object may spell the
    // requested URL its own way.
    const Text openedUrl = options.atRequestedUrl ? objectUrl(request) : Text();

    // The object's credential member is SetCredentials(user, password,
    // flags), flags 1 (HTTPREQUEST_SETCREDENTIALS_FOR_PROXY) for the proxy
    // (include/httprequest.idl in Wine). It refuses the call before Open:
    // documented for IWinHttpRequest::SetCredentials, and recorded from
    // Windows in Wine's test_IWinHttpRequest (dlls/winhttp/tests/winhttp.c:
    // ERROR_WINHTTP_CANNOT_CALL_BEFORE_OPEN).
    if (!options.proxy.empty() && !options.proxyUser.empty()) {
        const std::int32_t flag = options.proxyCredentialFlag.value_or(kDefaultProxyCredentialFlag);
        (void)request.call("SetCredentials", {options.proxyUser, options.proxyPassword, flag});
    }

    if (options.noRedirect) (void)request.put("Option", {kOptionEnableRedirects}, std::int32_t{0});
    // Certificates are checked unless the caller asks otherwise: switching
    // the checks off lets anyone on the path pose as the server.
    if (options.ignoreCertificateErrors) {
        (void)request.put("Option", {kOptionSslErrorIgnoreFlags}, kIgnoreAllCertificateErrors);
    }
    offerTls12(request);

    headers = withDefaultHeaders(std::move(headers), url);

    if (!cookies.empty()) (void)request.call("SetRequestHeader", {"Cookie", cookies});
    if (!containsText(headers, "\r\n")) {
        setRequestHeader(request, headers);
    } else {
        for (const Text& line : splitText(headers, "\r\n")) {
            if (!line.empty()) setRequestHeader(request, line);
        }
    }

    const ComPtr<ResponseProgress> progress = ResponseProgress::create();
    EventConnection connection;
    if (progress) connection = EventConnection::advise(request, kIidWinHttpRequestEvents, progress.get());

    if (!options.bodyBytes.empty()) {
        (void)request.call("Send", {options.bodyBytes});
    } else {
        (void)request.call("Send", {options.body});
    }
    WaitResult waited{Wait::Failed, request.lastResult()};
    const bool sent = SUCCEEDED(request.lastResult());
    if (sent) {
        waited = awaitResponse(request, connection.connected() ? progress.get() : nullptr, waitSeconds,
                               options.maxBodyBytes);
    }
    if (options.atRequestedUrl) *options.atRequestedUrl = !openedUrl.empty() && objectUrl(request) == openedUrl;
    if (sent && waited.outcome != Wait::Received) abandon(request, waited.underWay, connection.connected());
    connection.disconnect();

    // After a failed send or wait the response is not read at all: under
    // Wine, reading the body of a request whose body stalled ends the process.
    Bytes body;
    HRESULT cause = waited.cause;
    bool received = waited.outcome == Wait::Received;
    if (received) {
        const UniqueVariant bodyValue = request.get("ResponseBody");
        // Judged before it is copied: a reply too long is not copied at all.
        if (variantByteCount(bodyValue) > options.maxBodyBytes) {
            received = false;
        } else {
            body = variantBytes(bodyValue);
        }
    }
    std::int32_t answered = 0;
    if (received) {
        answered = truncatedStatus(variantNumber(request.get("Status")));
        if (cutOff(request, verb, answered, body.size())) {
            received = false;
            cause = HRESULT_FROM_WIN32(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
            body.clear();
        }
    }
    if (received) {
        // A method call: Wine's object has no property read of that name.
        responseHeaders = withoutStatusLine(variantText(
            request.invoke("GetallResponseHeaders", DISPATCH_METHOD | DISPATCH_PROPERTYGET)));
        responseHeaders = replaceText(responseHeaders, "Set-Cookie", "Set-Cookie", true);
        status = answered;
        cause = S_OK;
    } else {
        responseHeaders.clear();
        status = 0;
        if (SUCCEEDED(cause)) cause = E_ABORT;  // abandoned: too long
    }
    if (options.error) *options.error = cause;

    returnedCookies = collectResponseCookies(responseHeaders);
    (void)mergeCookies(cookies, returnedCookies);
    return body;
}

}  // namespace qx
