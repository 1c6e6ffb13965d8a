#include "net/http_request.h"

#include <climits>
#include <cmath>

#include "net/header_cookie.h"
#include "platform/unique.h"
#include "text/text_rules.h"

namespace qx {

namespace {

constexpr std::string_view kRequestProgId = "WinHttp.WinHttpRequest.5.1";
constexpr std::string_view kVerbs[] = {"GET", "POST", "HEAD"};

constexpr std::int32_t kOptionSslErrorIgnoreFlags = 4;
constexpr std::int32_t kOptionEnableRedirects = 6;
// Untrusted authority, wrong usage, name mismatch, outside validity dates.
constexpr std::int32_t kIgnoreAllCertificateErrors = 0x0100 | 0x0200 | 0x1000 | 0x2000;
constexpr std::int32_t kProxySettingNamedProxy = 2;
constexpr std::int32_t kDefaultProxyCredentialFlag = 1;

constexpr int kDefaultTimeoutSeconds = 15;
// With timeoutSeconds -1 the object keeps its own timeouts, of which the
// longest by default is the 60-second connect timeout. The wait for the
// response needs a bound all the same: under Wine the object enforces none
// of its timeouts while it waits for the response headers.
constexpr int kObjectTimeoutsWaitSeconds = 60;

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

std::int32_t truncatedStatus(double number) noexcept {
    if (!std::isfinite(number)) return 0;
    const double whole = std::trunc(number);
    if (whole < INT32_MIN || whole > INT32_MAX) return 0;
    return static_cast<std::int32_t>(whole);
}

}  // namespace

Bytes HttpRequest(std::string_view url, const HttpOptions& options) {
    const ComScope com;

    const bool knownMethod = options.method >= 0 && options.method < 3;
    const std::string_view verb = kVerbs[knownMethod ? options.method : 0];

    AutomationObject request;
    if (options.sharedRequest) {
        request = *options.sharedRequest;
    } else if (!request.create(kRequestProgId)) {
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

    if (!options.proxy.empty()) {
        (void)request.call("SetProxy", {kProxySettingNamedProxy, options.proxy});
        if (!options.proxyUser.empty()) {
            const std::int32_t flag = options.proxyCredentialFlag.value_or(kDefaultProxyCredentialFlag);
            (void)request.call("SetProxyCredentials", {options.proxyUser, options.proxyPassword, flag});
        }
    }

    // Opened asynchronously so that the wait below can be bounded: Wine's
    // object ignores its timeouts in a synchronous Send while it waits for
    // the response headers. The caller still sees one blocking call.
    (void)request.call("Open", {verb, url, true});

    if (options.noRedirect) (void)request.put("Option", {kOptionEnableRedirects}, std::int32_t{0});
    // Certificates are checked unless the caller asks otherwise: switching
    // the checks off lets anyone on the path pose as the server.
    if (options.ignoreCertificateErrors) {
        (void)request.put("Option", {kOptionSslErrorIgnoreFlags}, kIgnoreAllCertificateErrors);
    }

    headers = withDefaultHeaders(std::move(headers), url);

    if (!cookies.empty()) (void)request.call("SetRequestHeader", {"Cookie", cookies});
    if (!containsText(headers, "\r\n")) {
        setRequestHeader(request, headers);
    } else {
        for (const Text& line : splitText(headers, "\r\n")) {
            if (!line.empty()) setRequestHeader(request, line);
        }
    }

    if (!options.bodyBytes.empty()) {
        (void)request.call("Send", {options.bodyBytes});
    } else {
        (void)request.call("Send", {options.body});
    }
    bool received = SUCCEEDED(request.lastResult());
    if (received) {
        received = variantTrue(request.call("WaitForResponse", {std::int32_t{waitSeconds}})) &&
                   SUCCEEDED(request.lastResult());
        if (!received) (void)request.call("Abort");
    }

    // After a failed send or wait the response is not read at all: under
    // Wine, reading the body of a request whose body stalled ends the process.
    Bytes body;
    if (received) {
        body = variantBytes(request.get("ResponseBody"));
        // A method call: Wine's object has no property read of that name.
        responseHeaders = withoutStatusLine(variantText(
            request.invoke("GetallResponseHeaders", DISPATCH_METHOD | DISPATCH_PROPERTYGET)));
        responseHeaders = replaceText(responseHeaders, "Set-Cookie", "Set-Cookie", true);
        status = truncatedStatus(variantNumber(request.get("Status")));
    } else {
        responseHeaders.clear();
        status = 0;
    }

    returnedCookies = collectResponseCookies(responseHeaders);
    (void)mergeCookies(cookies, returnedCookies);
    return body;
}

}  // namespace qx
