// What the HTTP request routine asks of the request object, seen through a
// recording double passed as the shared request: the calls, their order,
// their arguments and their kinds. Wine's object ignores or refuses some of
// them (the proxy, option 4), so the wire cannot show these.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "net/http_request.h"
#include "net/request_events_win.h"
#include "tests/support/recording_dispatch.h"

namespace qx {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::RecordingDispatch;

constexpr char kUrl[] = "http://example.invalid/path";
// WinHTTP's errors, as the object reports them.
constexpr HRESULT kNameNotResolved = static_cast<HRESULT>(0x80072EE7);
constexpr HRESULT kCannotConnect = static_cast<HRESULT>(0x80072EFD);
constexpr HRESULT kConnectionLost = static_cast<HRESULT>(0x80072EFE);
constexpr HRESULT kTimedOut = static_cast<HRESULT>(0x80072EE2);
constexpr HRESULT kInvalidServerResponse = static_cast<HRESULT>(0x80072F78);
// How long the double takes for a WaitForResponse slice that runs out.
constexpr DWORD kSliceRunsOutMs = 600;
// The request object's events interface, {F97F4E15-B787-4212-80D1-D380CBBF982E}
// in httprequest.idl: spelled here, so that a wrong id in the program shows.
constexpr IID kRequestEventsIid = {0xf97f4e15, 0xb787, 0x4212, {0x80, 0xd1, 0xd3, 0x80, 0xcb, 0xbf, 0x98, 0x2e}};
constexpr char kUserAgentLine[] =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";

class HttpRequestCalls : public ::testing::Test {
protected:
    HttpRequestCalls() : fake(RecordingDispatch::create()), shared(fake->handle()) {
        fake->answerBool("WaitForResponse", true);
    }

    Bytes run(HttpOptions options, std::string_view url = kUrl) {
        options.sharedRequest = &shared;
        return HttpRequest(url, options);
    }

    ComScope com;
    ComPtr<RecordingDispatch> fake;
    AutomationObject shared;
};

// The order that the object itself imposes (the values are the other
// tests'): SetRequestHeader before Open is refused and option writes before
// it are ignored (Wine's test_IWinHttpRequest records both from Windows);
// Send takes the headers set so far; the response is read only once the wait
// has answered. Nothing is called twice.
TEST_F(HttpRequestCalls, EveryCallComesWhereTheObjectTakesIt) {
    HttpOptions options;
    options.noRedirect = true;
    (void)run(options);
    const std::vector<std::string> names = fake->names();
    const auto first = [&names](std::string_view name) {
        return std::find(names.begin(), names.end(), name) - names.begin();
    };
    const auto last = [&names](std::string_view name) {
        return names.rend() - std::find(names.rbegin(), names.rend(), name) - 1;
    };
    EXPECT_LT(first("SetTimeouts"), first("Open"));
    EXPECT_LT(first("Open"), first("Option"));
    EXPECT_LT(first("Open"), first("SetRequestHeader"));
    EXPECT_LT(last("SetRequestHeader"), first("Send"));
    EXPECT_LT(last("Option"), first("Send"));
    EXPECT_LT(first("Send"), first("WaitForResponse"));
    for (const char* read : {"ResponseBody", "Status", "GetResponseHeader", "GetallResponseHeaders"}) {
        EXPECT_LT(last("WaitForResponse"), first(read)) << read;
    }
    for (const char* once : {"SetTimeouts", "Open", "Send", "ResponseBody", "GetallResponseHeaders"}) {
        EXPECT_EQ(first(once), last(once)) << once;
    }
}

struct TimeoutCase {
    int seconds;
    std::vector<std::string> setTimeouts;
};

class HttpRequestTimeouts : public HttpRequestCalls, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(HttpRequestTimeouts, SetTimeoutsGetsTheMilliseconds) {
    HttpOptions options;
    options.timeoutSeconds = GetParam().seconds;
    (void)run(options);
    EXPECT_EQ(fake->callsTo("SetTimeouts"), GetParam().setTimeouts);
}

INSTANTIATE_TEST_SUITE_P(
    , HttpRequestTimeouts,
    ::testing::Values(
        TimeoutCase{0, {"method SetTimeouts(I4 15000, I4 15000, I4 15000, I4 15000)"}},
        TimeoutCase{-5, {"method SetTimeouts(I4 15000, I4 15000, I4 15000, I4 15000)"}},
        TimeoutCase{30, {"method SetTimeouts(I4 30000, I4 30000, I4 30000, I4 30000)"}},
        TimeoutCase{-1, {}},  // the object keeps its own timeouts
        // Milliseconds stay within 32 bits.
        TimeoutCase{3000000, {"method SetTimeouts(I4 2147483000, I4 2147483000, I4 2147483000, I4 2147483000)"}}),
    [](const auto& info) {
        const int s = info.param.seconds;
        return (s < 0 ? "Minus" + std::to_string(-s) : std::to_string(s)) + "Seconds";
    });

struct VerbCase {
    int method;
    const char* verb;
};

class HttpRequestVerbs : public HttpRequestCalls, public ::testing::WithParamInterface<VerbCase> {};

TEST_P(HttpRequestVerbs, OpenGetsTheVerbTheUrlAndAsynchronous) {
    HttpOptions options;
    options.method = GetParam().method;
    (void)run(options, "https://host.invalid:8443/a?b=c");
    EXPECT_THAT(fake->callsTo("Open"), ElementsAre(std::string("method Open(BSTR \"") + GetParam().verb +
                                                   "\", BSTR \"https://host.invalid:8443/a?b=c\", BOOL true)"));
}

INSTANTIATE_TEST_SUITE_P(, HttpRequestVerbs,
                         ::testing::Values(VerbCase{0, "GET"}, VerbCase{1, "POST"}, VerbCase{2, "HEAD"},
                                           VerbCase{3, "GET"}, VerbCase{-1, "GET"}),
                         [](const auto& info) {
                             const int m = info.param.method;
                             return "Method" + (m < 0 ? "Minus" + std::to_string(-m) : std::to_string(m));
                         });

TEST_F(HttpRequestCalls, OptionsAreWrittenAfterOpenAndCertificateChecksStayOnUnlessAsked) {
    HttpOptions options;
    options.noRedirect = true;
    (void)run(options);
    EXPECT_THAT(fake->callsTo("Option"), ElementsAre("put Option(I4 6, I4 0)", "get Option(I4 9)"));

    fake->clearCalls();
    options.ignoreCertificateErrors = true;
    (void)run(options);
    const std::vector<std::string> names = fake->names();
    ASSERT_GE(names.size(), 5u);
    EXPECT_EQ(names[1], "Open");
    EXPECT_THAT(fake->callsTo("Option"),
                ElementsAre("put Option(I4 6, I4 0)", "put Option(I4 4, I4 13056)", "get Option(I4 9)"));
    EXPECT_EQ(names[4], "Option");

    fake->clearCalls();
    options.noRedirect = false;
    (void)run(options);
    EXPECT_THAT(fake->callsTo("Option"), ElementsAre("put Option(I4 4, I4 13056)", "get Option(I4 9)"));

    fake->clearCalls();
    (void)run({});
    EXPECT_THAT(fake->callsTo("Option"), ElementsAre("get Option(I4 9)"));
}

struct ProtocolCase {
    const char* name;
    std::optional<std::int32_t> offered;  // what reading option 9 gives; none: the read fails
    std::vector<std::string> written;
};

class HttpRequestSecureProtocols : public HttpRequestCalls, public ::testing::WithParamInterface<ProtocolCase> {};

// TLS 1.2 is added to what the system offers, never put in its place.
TEST_P(HttpRequestSecureProtocols, Tls12IsAddedOnlyWhereItIsMissing) {
    if (GetParam().offered) {
        fake->answerNumber("Option", *GetParam().offered);
    } else {
        fake->fail("Option", E_NOTIMPL);  // Wine
    }
    (void)run({}, "https://example.invalid/");
    std::vector<std::string> written;
    for (const std::string& call : fake->callsTo("Option")) {
        if (call.rfind("put ", 0) == 0) written.push_back(call);
    }
    EXPECT_EQ(written, GetParam().written);
    const std::vector<std::string> names = fake->names();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[1], "Open");
    EXPECT_EQ(names[2], "Option");
}

INSTANTIATE_TEST_SUITE_P(
    , HttpRequestSecureProtocols,
    ::testing::Values(
        // SSL 3.0 and TLS 1.0 (Windows 7 and 8.0): TLS 1.2 joins them.
        ProtocolCase{"Ssl3Tls10", 0x00A0, {"put Option(I4 9, I4 2208)"}},
        ProtocolCase{"Tls10Tls11", 0x0280, {"put Option(I4 9, I4 2688)"}},
        // TLS 1.2 offered already, with or without 1.0, 1.1 and 1.3: left alone.
        ProtocolCase{"Tls10To12", 0x0A80, {}},
        ProtocolCase{"Tls12Tls13", 0x2800, {}},
        ProtocolCase{"ReadFails", std::nullopt, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpRequestCalls, ProxyCallsOnlyWithAProxyAndTheFlagDefaultsToOne) {
    HttpOptions options;
    options.proxyUser = "user";
    options.proxyPassword = "secret";
    (void)run(options);
    EXPECT_THAT(fake->callsTo("SetProxy"), IsEmpty());
    EXPECT_THAT(fake->callsTo("SetCredentials"), IsEmpty());

    fake->clearCalls();
    options.proxy = "proxy.invalid:3128";
    (void)run(options);
    EXPECT_THAT(fake->calls()[1], "method SetProxy(I4 2, BSTR \"proxy.invalid:3128\")");
    EXPECT_EQ(fake->calls()[2].rfind("method Open(", 0), 0u);
    // The object refuses credentials before Open.
    EXPECT_THAT(fake->calls()[3], "method SetCredentials(BSTR \"user\", BSTR \"secret\", I4 1)");

    for (const std::int32_t flag : {0, 2}) {
        fake->clearCalls();
        options.proxyCredentialFlag = flag;
        (void)run(options);
        EXPECT_THAT(fake->callsTo("SetCredentials"),
                    ElementsAre("method SetCredentials(BSTR \"user\", BSTR \"secret\", I4 " +
                                std::to_string(flag) + ")"));
    }

    fake->clearCalls();
    options.proxyUser.clear();
    (void)run(options);
    EXPECT_THAT(fake->callsTo("SetProxy"), ElementsAre("method SetProxy(I4 2, BSTR \"proxy.invalid:3128\")"));
    EXPECT_THAT(fake->callsTo("SetCredentials"), IsEmpty());
}

// Along a proxy list: the next way only when the one before could not be
// reached, so that nothing was sent yet. The first `failures` sends fail,
// with the object then at endUrl (null: it never says, as Wine's).
struct FallbackCase {
    const char* name;
    HRESULT failure;
    int failures;
    std::vector<std::string> routes;  // SetProxy per attempt: a proxy, or "" for direct
    int attempts;
    const char* endUrl = kUrl;
};

class HttpRequestFallback : public HttpRequestCalls, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(HttpRequestFallback, TheNextWayOnlyWhenNothingWasSent) {
    int sends = 0;
    fake->onInvoke("Open", [this] {
        if (GetParam().endUrl) fake->answerText("Option", kUrl);
        if (!GetParam().endUrl) fake->fail("Option", E_NOTIMPL);
    });
    fake->onInvoke("Send", [this, &sends] {
        const bool failing = ++sends <= GetParam().failures;
        fake->fail("Send", failing ? GetParam().failure : S_OK);
        if (failing && GetParam().endUrl) fake->answerText("Option", GetParam().endUrl);
    });
    fake->answerBytes("ResponseBody", toBytes("audio"));
    HttpOptions options;
    options.sharedRequest = &shared;
    HRESULT error = E_UNEXPECTED;
    options.error = &error;
    const Bytes body = HttpRequestVia({"a.invalid:1", "b.invalid:2", ""}, kUrl, options);
    std::vector<std::string> setProxy;
    for (const std::string& route : GetParam().routes) {
        setProxy.push_back(route.empty() ? "method SetProxy(I4 1)" : "method SetProxy(I4 2, BSTR \"" + route + "\")");
    }
    EXPECT_EQ(fake->callsTo("SetProxy"), setProxy);
    EXPECT_EQ(fake->callsTo("Open").size(), static_cast<std::size_t>(GetParam().attempts));
    const bool answered = GetParam().failures < GetParam().attempts;
    EXPECT_EQ(body, answered ? toBytes("audio") : Bytes());
    EXPECT_EQ(error, answered ? S_OK : GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    , HttpRequestFallback,
    ::testing::Values(FallbackCase{"FirstAnswers", kCannotConnect, 0, {"a.invalid:1"}, 1},
                      FallbackCase{"FirstNameNotResolved", kNameNotResolved, 1, {"a.invalid:1", "b.invalid:2"}, 2},
                      // The direct step is set as direct, not left to the
                      // proxy of the attempt before.
                      FallbackCase{"BothRefuseThenDirect", kCannotConnect, 2, {"a.invalid:1", "b.invalid:2", ""}, 3},
                      FallbackCase{"NoWayAnswers", kCannotConnect, 3, {"a.invalid:1", "b.invalid:2", ""}, 3},
                      // Perhaps sent already: never again.
                      FallbackCase{"TimeoutEndsIt", kTimedOut, 1, {"a.invalid:1"}, 1},
                      FallbackCase{"ConnectionLostEndsIt", kConnectionLost, 1, {"a.invalid:1"}, 1},
                      // The first server took the POST and redirected; its
                      // target could not be reached.
                      FallbackCase{"RedirectTargetUnreachableEndsIt", kCannotConnect, 1, {"a.invalid:1"}, 1,
                                   "http://elsewhere.invalid/path"},
                      FallbackCase{"UrlUnknownEndsIt", kCannotConnect, 1, {"a.invalid:1"}, 1, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

struct HeaderCase {
    const char* name;
    Text block;
    Text completed;
    std::vector<std::string> setRequestHeader;
};

class HttpRequestHeaderBlock : public HttpRequestCalls, public ::testing::WithParamInterface<HeaderCase> {};

std::string header(const char* name, const char* value) {
    return std::string("method SetRequestHeader(BSTR \"") + name + "\", BSTR \"" + value + "\")";
}

TEST_P(HttpRequestHeaderBlock, CompletedBlockAndOneSetRequestHeaderPerLine) {
    Text headers = GetParam().block;
    HttpOptions options;
    options.headers = &headers;
    (void)run(options, "http://u.invalid/");
    EXPECT_EQ(headers, GetParam().completed);
    EXPECT_EQ(fake->callsTo("SetRequestHeader"), GetParam().setRequestHeader);

    // The completed block passed again gains nothing.
    fake->clearCalls();
    (void)run(options, "http://other.invalid/");
    EXPECT_EQ(headers, GetParam().completed);
}

const std::string kReferer = header("Referer", "http://u.invalid/");
const std::string kAccept = header("Accept", "*/*");
const std::string kLanguage = header("Accept-Language", "zh-cn");
const std::string kAgent = header("User-Agent", kUserAgentLine + 12);
const std::string kForm = header("Content-Type", "application/x-www-form-urlencoded");
const Text kDefaults = Text("Referer: http://u.invalid/\r\nAccept-Language: zh-cn\r\n") + kUserAgentLine;

INSTANTIATE_TEST_SUITE_P(
    , HttpRequestHeaderBlock,
    ::testing::Values(
        HeaderCase{"Empty", "",
                   "Accept: */*\r\n" + kDefaults + "\r\nContent-Type: application/x-www-form-urlencoded",
                   {kAccept, kReferer, kLanguage, kAgent, kForm}},
        HeaderCase{"JsonContentType", "Content-Type: application/json;charset=UTF-8",
                   "Content-Type: application/json;charset=UTF-8\r\nAccept: */*\r\n" + kDefaults,
                   {header("Content-Type", "application/json;charset=UTF-8"), kAccept, kReferer, kLanguage, kAgent}},
        HeaderCase{"LowerCaseAcceptIsNoAccept", "accept: text/html",
                   "accept: text/html\r\nAccept: */*\r\n" + kDefaults +
                       "\r\nContent-Type: application/x-www-form-urlencoded",
                   {header("accept", "text/html"), kAccept, kReferer, kLanguage, kAgent, kForm}},
        HeaderCase{"BlankLineMakesNoCall", "X-One: 1\r\n\r\nX-Two: 2",
                   "X-One: 1\r\n\r\nX-Two: 2\r\nAccept: */*\r\n" + kDefaults +
                       "\r\nContent-Type: application/x-www-form-urlencoded",
                   {header("X-One", "1"), header("X-Two", "2"), kAccept, kReferer, kLanguage, kAgent, kForm}},
        HeaderCase{"LineWithoutColonStillCalls", "garbage",
                   "garbage\r\nAccept: */*\r\n" + kDefaults + "\r\nContent-Type: application/x-www-form-urlencoded",
                   {header("", ""), kAccept, kReferer, kLanguage, kAgent, kForm}},
        // Joined by bare line feeds, the block holds no CR LF: one header.
        HeaderCase{"NoCrLfIsOneHeader",
                   "Accept: a\nReferer: r\nAccept-Language: l\nUser-Agent: u\nContent-Type: c",
                   "Accept: a\nReferer: r\nAccept-Language: l\nUser-Agent: u\nContent-Type: c",
                   {header("Accept", "a\\nReferer: r\\nAccept-Language: l\\nUser-Agent: u\\nContent-Type: c")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpRequestCalls, CookieHeaderComesFirstAndOnlyWhenThereAreCookies) {
    Text cookies = "a=1; b=2";
    HttpOptions options;
    options.cookies = &cookies;
    (void)run(options);
    const std::vector<std::string> headers = fake->callsTo("SetRequestHeader");
    ASSERT_EQ(headers.size(), 6u);
    EXPECT_EQ(headers[0], header("Cookie", "a=1; b=2"));
    EXPECT_EQ(headers[1], kAccept);
    EXPECT_EQ(cookies, "a=1;b=2");

    fake->clearCalls();
    cookies.clear();
    (void)run(options);
    EXPECT_EQ(fake->callsTo("SetRequestHeader").size(), 5u);
}

TEST_F(HttpRequestCalls, SendGetsBytesAsAByteArrayAndTextAsAString) {
    HttpOptions options;
    options.body = "tex=1&b=2";
    (void)run(options);
    EXPECT_THAT(fake->callsTo("Send"), ElementsAre("method Send(BSTR \"tex=1&b=2\")"));

    fake->clearCalls();
    options.bodyBytes = {'a', 0, 'c'};
    (void)run(options);
    EXPECT_THAT(fake->callsTo("Send"), ElementsAre("method Send(UI1[] 3 \"a\\x00c\")"));

    fake->clearCalls();
    options.body = "\xD6\xD0";  // GBK text crosses as UTF-16
    options.bodyBytes.clear();
    (void)run(options);
    EXPECT_THAT(fake->callsTo("Send"), ElementsAre("method Send(BSTR \"\xD6\xD0\")"));
}

TEST_F(HttpRequestCalls, AResponseFillsEveryOutput) {
    fake->answerBytes("ResponseBody", toBytes("audio"));
    // Wine's object puts the status line first; Windows does not.
    fake->answerText("GetAllResponseHeaders",
                     "HTTP/1.1 404 Not Found\r\nSET-COOKIE: a=1; path=/\r\nset-cookie: b=2\r\n\r\n");
    fake->answerNumber("Status", 404);
    Text cookies = "c=3";
    Text returned = "stale";
    Text responseHeaders;
    std::int32_t status = -1;
    HttpOptions options;
    options.cookies = &cookies;
    options.returnedCookies = &returned;
    options.responseHeaders = &responseHeaders;
    options.status = &status;
    EXPECT_EQ(run(options), toBytes("audio"));
    EXPECT_EQ(status, 404);
    EXPECT_EQ(responseHeaders, "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n");
    EXPECT_EQ(returned, "a=1;b=2");
    EXPECT_EQ(cookies, "c=3;a=1;b=2;");
}

TEST_F(HttpRequestCalls, ANonByteBodyOrNonNumberStatusCountsAsEmpty) {
    fake->answerText("ResponseBody", "not bytes");
    fake->answerText("Status", "200");
    std::int32_t status = -1;
    HttpOptions options;
    options.status = &status;
    EXPECT_TRUE(run(options).empty());
    EXPECT_EQ(status, 0);
}

struct NoResponseCase {
    const char* name;
    const char* failing;     // member that fails with `error`, or
    bool waitRunsOut;        // no response headers while WaitForResponse answers false
    bool aborts;
    HRESULT error;           // told through HttpOptions::error
};

class HttpRequestNoResponse : public HttpRequestCalls, public ::testing::WithParamInterface<NoResponseCase> {};

TEST_P(HttpRequestNoResponse, NothingIsReadAndTheOutputsShowNoResponse) {
    fake->answerBytes("ResponseBody", toBytes("must not be read"));
    fake->answerText("GetAllResponseHeaders", "Set-Cookie: x=1\r\n");
    fake->answerNumber("Status", 200);
    if (GetParam().failing) fake->fail(GetParam().failing, GetParam().error);
    HttpOptions options;
    if (GetParam().waitRunsOut) {
        fake->answerBool("WaitForResponse", false);
        fake->delay("WaitForResponse", kSliceRunsOutMs);
        fake->fail("Status", DISP_E_EXCEPTION);  // no response headers yet
        options.timeoutSeconds = 1;
    }

    Text cookies = "a=1; b=2";
    Text returned = "old";
    Text responseHeaders = "old";
    std::int32_t status = 7;
    HRESULT error = S_OK;
    options.cookies = &cookies;
    options.returnedCookies = &returned;
    options.responseHeaders = &responseHeaders;
    options.status = &status;
    options.error = &error;
    EXPECT_TRUE(run(options).empty());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(error, GetParam().error);
    EXPECT_EQ(responseHeaders, "");
    EXPECT_EQ(returned, "");
    EXPECT_EQ(cookies, "a=1;b=2");
    EXPECT_THAT(fake->callsTo("ResponseBody"), IsEmpty());
    EXPECT_THAT(fake->callsTo("GetallResponseHeaders"), IsEmpty());
    EXPECT_EQ(fake->callsTo("Abort").size(), GetParam().aborts ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(, HttpRequestNoResponse,
                         ::testing::Values(NoResponseCase{"SendFails", "Send", false, false, kCannotConnect},
                                           NoResponseCase{"WaitFails", "WaitForResponse", false, true, kConnectionLost},
                                           NoResponseCase{"WaitRunsOut", nullptr, true, true, kTimedOut}),
                         [](const auto& info) { return std::string(info.param.name); });

// The wait for the response, slice by slice. A slice that runs out takes
// kSliceRunsOutMs here (more than half of the one-second slice asked for).
class HttpRequestWait : public HttpRequestCalls {
protected:
    HttpRequestWait() {
        fake->answerBool("WaitForResponse", false);
        fake->delay("WaitForResponse", kSliceRunsOutMs);
        fake->answerBytes("ResponseBody", toBytes("audio"));
        fake->answerNumber("Status", 200);
    }
    // The response is complete at the nth slice.
    void completeAtSlice(int n) {
        fake->onInvoke("WaitForResponse", [this, n] {
            if (++slices == n) fake->answerBool("WaitForResponse", true);
        });
    }
    // The object's event sink, advised while the request runs.
    IWinHttpRequestEvents* sink() const { return static_cast<IWinHttpRequestEvents*>(fake->advised()); }

    int slices = 0;
};

// Wine's object answers false at once when the response was complete before
// the call; that is no slice running out.
TEST_F(HttpRequestWait, AFalseAnswerAtOnceMeansTheResponseIsComplete) {
    fake->delay("WaitForResponse", 0);
    EXPECT_EQ(run({}), toBytes("audio"));
    EXPECT_EQ(fake->callsTo("WaitForResponse").size(), 1u);
    EXPECT_THAT(fake->callsTo("Abort"), IsEmpty());
}

// Once the response headers are in, the object's own timeouts govern: the
// wait goes on past timeoutSeconds.
TEST_F(HttpRequestWait, AResponseUnderWayIsWaitedForPastTheTimeout) {
    completeAtSlice(3);
    HttpOptions options;
    options.timeoutSeconds = 1;
    EXPECT_EQ(run(options), toBytes("audio"));
    EXPECT_EQ(fake->callsTo("WaitForResponse").size(), 3u);
    EXPECT_THAT(fake->callsTo("Abort"), IsEmpty());
}

// An object with events (Windows) applies its timeouts to every phase
// itself, the wait for the headers included.
TEST_F(HttpRequestWait, AnObjectWithEventsIsWaitedForAsLongAsItWorks) {
    fake->offerEvents(kRequestEventsIid);
    fake->fail("Status", DISP_E_EXCEPTION);
    bool advisedDuringTheWait = false;
    fake->onInvoke("WaitForResponse", [this, &advisedDuringTheWait] {
        advisedDuringTheWait = sink() != nullptr;
        if (++slices == 3) fake->answerBool("WaitForResponse", true);
    });
    HttpOptions options;
    options.timeoutSeconds = 1;
    EXPECT_EQ(run(options), toBytes("audio"));
    EXPECT_EQ(slices, 3);
    EXPECT_TRUE(advisedDuringTheWait);
    EXPECT_EQ(fake->advised(), nullptr);  // unadvised again
}

// Where the object has events (Windows), they say when the response is
// over: a false answer only means that the slice ran out, and an error after
// part of the body (a connection that ends inside a chunked body) fails the
// request, whatever the wait answers. The third slice brings the end.
struct EventEndCase {
    const char* name;
    bool error;        // OnError, else OnResponseFinished
    bool waitAnswers;  // from the third slice on; false before, at once
};

class HttpRequestEventEnd : public HttpRequestWait, public ::testing::WithParamInterface<EventEndCase> {};

TEST_P(HttpRequestEventEnd, TheEventsDecide) {
    constexpr HRESULT kConnectionError = 0x80072EFE;
    fake->offerEvents(kRequestEventsIid);
    fake->delay("WaitForResponse", 0);
    fake->onInvoke("WaitForResponse", [this] {
        if (++slices == 1) sink()->OnResponseStart(200, nullptr);
        if (slices != 3) return;
        GetParam().error ? sink()->OnError(kConnectionError, nullptr) : sink()->OnResponseFinished();
        fake->answerBool("WaitForResponse", GetParam().waitAnswers);
    });
    HRESULT error = E_UNEXPECTED;
    HttpOptions options;
    options.error = &error;
    EXPECT_EQ(run(options), GetParam().error ? Bytes() : toBytes("audio"));
    EXPECT_EQ(slices, 3);
    EXPECT_EQ(error, GetParam().error ? kConnectionError : S_OK);
}

INSTANTIATE_TEST_SUITE_P(, HttpRequestEventEnd,
                         ::testing::Values(EventEndCase{"FinishedAfterFalseAnswers", false, false},
                                           EventEndCase{"ErrorThoughTheWaitAnswersTrue", true, true},
                                           EventEndCase{"ErrorWhileTheWaitAnswersFalse", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BoundCase {
    const char* name;
    std::optional<std::string> declared;  // Content-Length
    std::size_t counted;   // body bytes told by events, 0 without events
    std::size_t delivered;
    bool abandoned;        // or cut off: no body, no status
    HRESULT error;
};

class HttpRequestBodyBound : public HttpRequestWait, public ::testing::WithParamInterface<BoundCase> {};

TEST_P(HttpRequestBodyBound, AReplyLongerThanTheBoundIsAbandoned) {
    const BoundCase& c = GetParam();
    completeAtSlice(2);
    if (c.declared) {
        fake->answerText("GetResponseHeader", *c.declared);
    } else {
        fake->fail("GetResponseHeader", DISP_E_EXCEPTION);
    }
    if (c.counted) {
        fake->offerEvents(kRequestEventsIid);
        fake->onInvoke("WaitForResponse", [this, &c] {
            if (++slices == 2) fake->answerBool("WaitForResponse", true);
            if (slices != 1) return;
            sink()->OnResponseStart(200, nullptr);
            UniqueVariant data;
            ASSERT_TRUE(AutomationArg(Bytes(c.counted / 2)).toVariant(data));
            sink()->OnResponseDataAvailable(&data.get()->parray);
            sink()->OnResponseDataAvailable(&data.get()->parray);
        });
    }
    fake->answerBytes("ResponseBody", Bytes(c.delivered, 'a'));
    std::int32_t status = -1;
    HRESULT error = E_UNEXPECTED;
    HttpOptions options;
    options.maxBodyBytes = 2000;
    options.status = &status;
    options.error = &error;
    const ULONG references = fake->references();
    const Bytes body = run(options);
    EXPECT_EQ(body.size(), c.abandoned ? 0u : c.delivered);
    EXPECT_EQ(status, c.abandoned ? 0 : 200);
    EXPECT_EQ(error, c.error);
    if (c.delivered == 0) {
        // Abandoned while it arrived: abort at the first look, nothing read.
        // An object without events (Wine's) is waited for once more after
        // Abort, until its worker has let go, and is never released.
        const bool events = c.counted != 0;
        EXPECT_EQ(fake->callsTo("WaitForResponse").size(), events ? 1u : 2u);
        EXPECT_EQ(fake->callsTo("Abort").size(), 1u);
        EXPECT_THAT(fake->callsTo("ResponseBody"), IsEmpty());
        EXPECT_EQ(fake->references(), events ? references : references + 1);
    } else {
        EXPECT_EQ(fake->references(), references);
    }
}

INSTANTIATE_TEST_SUITE_P(
    , HttpRequestBodyBound,
    ::testing::Values(BoundCase{"DeclaredAtTheBound", " 2000 ", 0, 2000, false, S_OK},
                      // Wine's string carries its terminating zero.
                      BoundCase{"DeclaredPastTheBound", std::string("2001\0", 5), 0, 0, true, E_ABORT},
                      BoundCase{"CountedPastTheBound", std::nullopt, 2002, 0, true, E_ABORT},
                      // No length known before the end: judged before the copy.
                      BoundCase{"DeliveredAtTheBound", std::nullopt, 0, 2000, false, S_OK},
                      BoundCase{"DeliveredPastTheBound", std::nullopt, 0, 2001, true, E_ABORT},
                      // Shorter than declared: the connection closed early.
                      BoundCase{"DeliveredShortOfTheDeclared", "2000", 0, 1999, true, kInvalidServerResponse}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpRequestCalls, AnEmptySharedObjectGivesTheNoResponseOutcome) {
    const AutomationObject empty;
    Text cookies = "a = 1";
    std::int32_t status = 5;
    HttpOptions options;
    options.cookies = &cookies;
    options.status = &status;
    options.sharedRequest = &empty;
    EXPECT_TRUE(HttpRequest(kUrl, options).empty());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cookies, "a=1");
}

TEST_F(HttpRequestCalls, AnObjectThatCannotBeCreatedLeavesEveryOutputUntouched) {
    const test::ClassOverride failing("WinHttp.WinHttpRequest.5.1", E_OUTOFMEMORY);
    ASSERT_TRUE(failing.active());
    Text cookies = "a = 1", returned = "r", headers = "", responseHeaders = "h";
    std::int32_t status = 9;
    HttpOptions options;
    options.cookies = &cookies;
    options.returnedCookies = &returned;
    options.headers = &headers;
    options.responseHeaders = &responseHeaders;
    options.status = &status;
    EXPECT_TRUE(HttpRequest(kUrl, options).empty());
    EXPECT_EQ(cookies, "a = 1");
    EXPECT_EQ(returned, "r");
    EXPECT_EQ(headers, "");
    EXPECT_EQ(responseHeaders, "h");
    EXPECT_EQ(status, 9);
}

TEST_F(HttpRequestCalls, WithoutASharedObjectItCreatesOneAndReleasesIt) {
    const test::ClassOverride standIn("WinHttp.WinHttpRequest.5.1", fake.get());
    ASSERT_TRUE(standIn.active());
    const ULONG before = fake->references();
    (void)HttpRequest(kUrl, {});
    EXPECT_EQ(fake->callsTo("Open").size(), 1u);
    EXPECT_EQ(fake->references(), before);
}

// The routine enters COM itself and leaves it again before it returns, also
// on the early return when the object cannot be created.
TEST(HttpRequestCom, EntersAndLeavesComAroundEachCall) {
    ComPtr<RecordingDispatch> fake = RecordingDispatch::create();
    const AutomationObject shared = fake->handle();
    HRESULT again = E_FAIL;
    std::thread worker([&] {
        HttpOptions options;
        options.sharedRequest = &shared;
        (void)HttpRequest(kUrl, options);
        again = ::CoInitialize(nullptr);  // S_OK: the routine left no COM behind
        if (SUCCEEDED(again)) ::CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(again, S_OK);
    EXPECT_EQ(fake->callsTo("Open").size(), 1u);

    HRESULT afterFailure = E_FAIL;
    std::thread failing([&] {
        if (FAILED(::CoInitialize(nullptr))) return;
        {
            const test::ClassOverride cannot("WinHttp.WinHttpRequest.5.1", E_OUTOFMEMORY);
            (void)HttpRequest(kUrl, {});
        }
        ::CoUninitialize();
        afterFailure = ::CoInitialize(nullptr);
        if (SUCCEEDED(afterFailure)) ::CoUninitialize();
    });
    failing.join();
    EXPECT_EQ(afterFailure, S_OK);
}

}  // namespace
}  // namespace qx
