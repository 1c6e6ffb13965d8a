// The HTTP request routine through the platform's request object, against
// the loopback test server, which records what arrives and answers as
// scripted.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "net/http_request.h"
#include "tests/support/test_server.h"

namespace qx {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using test::Endpoint;
using test::Reply;
using test::Tls;

constexpr char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/55.0.2883.87 Safari/537.36";

// The in/out and out values of one call.
struct Outputs {
    Text cookies;
    Text returnedCookies;
    Text headers;
    Text responseHeaders;
    std::int32_t status = -1;

    HttpOptions options() {
        HttpOptions o;
        o.cookies = &cookies;
        o.returnedCookies = &returnedCookies;
        o.headers = &headers;
        o.responseHeaders = &responseHeaders;
        o.status = &status;
        return o;
    }
};

class HttpRequestWire : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.available()) << server.error(); }

    Endpoint endpoint(const std::vector<Reply>& replies, Tls tls = Tls::None) {
        Endpoint e = server.endpoint(replies, tls);
        EXPECT_TRUE(e.valid());
        return e;
    }

    test::TestServer server;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void expectNoResponse(const Bytes& body, const Outputs& out) {
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.responseHeaders, "");
    EXPECT_EQ(out.returnedCookies, "");
}

struct VerbCase {
    int method;
    const char* verb;
};

class HttpRequestWireVerbs : public HttpRequestWire, public ::testing::WithParamInterface<VerbCase> {};

TEST_P(HttpRequestWireVerbs, MethodNumberPicksTheVerb) {
    const Endpoint e = endpoint({Reply{}.withBody("ok")});
    HttpOptions options;
    options.method = GetParam().method;
    (void)HttpRequest(e.url("/v"), options);
    const test::ServerLog log = e.log(1, 5);
    ASSERT_EQ(log.requests.size(), 1u);
    EXPECT_EQ(log.requests[0].line, std::string(GetParam().verb) + " /v HTTP/1.1");
}

INSTANTIATE_TEST_SUITE_P(, HttpRequestWireVerbs,
                         ::testing::Values(VerbCase{0, "GET"}, VerbCase{1, "POST"}, VerbCase{2, "HEAD"},
                                           VerbCase{3, "GET"}, VerbCase{-1, "GET"}),
                         [](const auto& info) {
                             const int m = info.param.method;
                             return "Method" + (m < 0 ? "Minus" + std::to_string(-m) : std::to_string(m));
                         });

TEST_F(HttpRequestWire, TheCompletedHeaderBlockArrivesInOrder) {
    const Endpoint e = endpoint({Reply{}.withBody("ok")});
    Outputs out;
    const std::string url = e.url("/h?q=1");
    EXPECT_EQ(HttpRequest(url, out.options()), toBytes("ok"));
    EXPECT_EQ(out.headers, "Accept: */*\r\nReferer: " + url + "\r\nAccept-Language: zh-cn\r\nUser-Agent: " +
                               kUserAgent + "\r\nContent-Type: application/x-www-form-urlencoded");
    const test::ServerLog log = e.log(1, 5);
    ASSERT_EQ(log.requests.size(), 1u);
    const test::RecordedRequest& r = log.requests[0];
    EXPECT_EQ(r.header("Accept"), "*/*");
    EXPECT_EQ(r.header("Referer"), url);
    EXPECT_EQ(r.header("Accept-Language"), "zh-cn");
    EXPECT_EQ(r.header("User-Agent"), kUserAgent);
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.header("Cookie"), std::nullopt);
    // The routine's lines keep their order among whatever the object adds.
    std::vector<std::string> ours;
    for (const std::string& name : r.headerNames()) {
        if (name == "Accept" || name == "Referer" || name == "Accept-Language" || name == "User-Agent" ||
            name == "Content-Type") {
            ours.push_back(name);
        }
    }
    EXPECT_THAT(ours, ElementsAre("Accept", "Referer", "Accept-Language", "User-Agent", "Content-Type"));
}

TEST_F(HttpRequestWire, TheTokenRequestHeaderBlockKeepsItsContentType) {
    const Endpoint e = endpoint({Reply{}.withBody("{}")});
    Outputs out;
    out.headers = "Content-Type: application/json;charset=UTF-8";
    HttpOptions options = out.options();
    options.method = 1;
    options.timeoutSeconds = 30;
    EXPECT_EQ(HttpRequest(e.url("/oauth/2.0/token?grant_type=client_credentials"), options), toBytes("{}"));
    const test::ServerLog log = e.log(1, 5);
    ASSERT_EQ(log.requests.size(), 1u);
    EXPECT_EQ(log.requests[0].header("Content-Type"), "application/json;charset=UTF-8");
    EXPECT_EQ(log.requests[0].header("Content-Length"), "0");
    EXPECT_TRUE(log.requests[0].body.empty());
}

struct BodyCase {
    const char* name;
    Text text;
    Bytes bytes;
    Bytes arrives;
};

class HttpRequestWireBodies : public HttpRequestWire, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(HttpRequestWireBodies, TheBodyArrivesByteForByte) {
    const Endpoint e = endpoint({Reply{}.withBody("ok")});
    HttpOptions options;
    options.method = 1;
    options.body = GetParam().text;
    options.bodyBytes = GetParam().bytes;
    EXPECT_EQ(HttpRequest(e.url("/text2audio"), options), toBytes("ok"));
    const test::ServerLog log = e.log(1, 5);
    ASSERT_EQ(log.requests.size(), 1u);
    EXPECT_EQ(log.requests[0].body, GetParam().arrives);
    EXPECT_EQ(log.requests[0].header("Content-Length"), std::to_string(GetParam().arrives.size()));
}

Bytes allByteValues() {
    Bytes b;
    for (int i = 0; i < 256; ++i) b.push_back(static_cast<std::uint8_t>(i));
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    , HttpRequestWireBodies,
    ::testing::Values(
        BodyCase{"FormText", "lan=zh&ctp=1&tex=%25E4%25BD%25A0&aue=3", {},
                 toBytes("lan=zh&ctp=1&tex=%25E4%25BD%25A0&aue=3")},
        BodyCase{"EveryByteValue", "", allByteValues(), allByteValues()},
        BodyCase{"BytesWinOverText", "text is ignored", toBytes("bytes"), toBytes("bytes")},
        BodyCase{"Nothing", "", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpRequestWire, LargeResponseBodyArrivesWhole) {
    Reply big;
    big.bodySize = 300000;
    const Endpoint e = endpoint({big});
    const Bytes body = HttpRequest(e.url("/big"), {});
    ASSERT_EQ(body.size(), 300000u);
    const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ(body[0], '0');
    EXPECT_EQ(body[299999], static_cast<std::uint8_t>(pattern[299999 % pattern.size()]));
}

TEST_F(HttpRequestWire, NoRedirectKeepsThe302AndOtherwiseItIsFollowed) {
    Reply moved;
    moved.redirect = "/target";
    moved.body = toBytes("moved");
    moved.forPath("/start").always();
    const Endpoint e = endpoint({moved, Reply{}.withBody("arrived").forPath("/target").always()});

    Outputs held;
    HttpOptions options = held.options();
    options.noRedirect = true;
    EXPECT_EQ(HttpRequest(e.url("/start"), options), toBytes("moved"));
    EXPECT_EQ(held.status, 302);
    EXPECT_THAT(held.responseHeaders, HasSubstr("Location: /target"));
    EXPECT_EQ(e.log().requests.size(), 1u);

    Outputs followed;
    EXPECT_EQ(HttpRequest(e.url("/start"), followed.options()), toBytes("arrived"));
    EXPECT_EQ(followed.status, 200);
    const test::ServerLog log = e.log(3, 5);
    ASSERT_EQ(log.requests.size(), 3u);
    EXPECT_EQ(log.requests[2].target(), "/target");
}

TEST_F(HttpRequestWire, AnErrorStatusReturnsItsBody) {
    const Endpoint e = endpoint({Reply{}.withStatus(404).withBody("{\"err\":\"not here\"}")});
    Outputs out;
    EXPECT_EQ(HttpRequest(e.url("/missing"), out.options()), toBytes("{\"err\":\"not here\"}"));
    EXPECT_EQ(out.status, 404);
    // Header lines only: no status line, whatever the object does.
    EXPECT_THAT(out.responseHeaders, Not(HasSubstr("HTTP/1.1")));
    EXPECT_THAT(out.responseHeaders, HasSubstr("Content-Length: 18"));
}

TEST_F(HttpRequestWire, CookiesRoundTrip) {
    const Endpoint e = endpoint({Reply{}
                                     .withHeader("Set-Cookie: a=1; path=/")
                                     .withHeader("set-cookie: b=2")
                                     .withHeader("SET-COOKIE: c=4; HttpOnly")
                                     .withBody("one"),
                                 Reply{}.withHeader("Set-Cookie: a=deleted; path=/").withBody("two")});
    Outputs out;
    out.cookies = "c=3";
    EXPECT_EQ(HttpRequest(e.url("/1"), out.options()), toBytes("one"));
    EXPECT_THAT(out.responseHeaders, HasSubstr("Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\nSet-Cookie: c=4; HttpOnly"));
    EXPECT_THAT(out.responseHeaders, Not(HasSubstr("set-cookie")));
    EXPECT_EQ(out.returnedCookies, "a=1;b=2;c=4");
    EXPECT_EQ(out.cookies, "c=4;a=1;b=2;");

    Outputs next;
    next.cookies = out.cookies;
    EXPECT_EQ(HttpRequest(e.url("/2"), next.options()), toBytes("two"));
    EXPECT_EQ(next.returnedCookies, "a=deleted");
    EXPECT_EQ(next.cookies, "c=4;b=2;");

    const test::ServerLog log = e.log(2, 5);
    ASSERT_EQ(log.requests.size(), 2u);
    EXPECT_EQ(log.requests[0].header("Cookie"), "c=3");
    EXPECT_EQ(log.requests[1].header("Cookie"), "c=4;a=1;b=2;");
}

TEST_F(HttpRequestWire, CookiesWithoutNewOnesOnlyLoseTheirSpaces) {
    const Endpoint e = endpoint({Reply{}.withBody("ok")});
    Outputs out;
    out.cookies = "a=1; b=2";
    (void)HttpRequest(e.url("/"), out.options());
    EXPECT_EQ(out.cookies, "a=1;b=2");
    EXPECT_EQ(out.returnedCookies, "");
    EXPECT_EQ(e.log(1, 5).requests.at(0).header("Cookie"), "a=1; b=2");
}

// Under Wine the object keeps no timeout while it waits for the response
// headers; the routine still ends the wait within the timeout.
TEST_F(HttpRequestWire, AServerThatNeverAnswersGivesNoResponseWithinTheTimeout) {
    Reply silent;
    silent.mode = Reply::Mode::Silent;
    silent.holdSeconds = 8;
    const Endpoint e = endpoint({silent.always()});
    Outputs out;
    out.cookies = "a=1; b=2";
    HttpOptions options = out.options();
    options.timeoutSeconds = 2;
    const auto start = std::chrono::steady_clock::now();
    const Bytes body = HttpRequest(e.url("/stuck"), options);
    const double took = secondsSince(start);
    EXPECT_GE(took, 1.5);
    EXPECT_LT(took, 5.0);
    expectNoResponse(body, out);
    EXPECT_EQ(out.cookies, "a=1;b=2");
    EXPECT_GE(e.log(1, 5).requests.size(), 1u);
}

// The timeout bounds each wait for more of the reply, never the whole of it.
TEST_F(HttpRequestWire, AReplyThatKeepsArrivingIsNeverCutOff) {
    Reply drip;
    drip.mode = Reply::Mode::Drip;
    drip.bodySize = 40;
    drip.dripBytes = 5;
    drip.dripInterval = 0.5;  // the whole body takes 4 s
    const Endpoint e = endpoint({drip});
    Outputs out;
    HttpOptions options = out.options();
    options.timeoutSeconds = 2;
    const auto start = std::chrono::steady_clock::now();
    const Bytes body = HttpRequest(e.url("/slow"), options);
    EXPECT_GE(secondsSince(start), 3.5);
    ASSERT_EQ(body.size(), 40u);
    EXPECT_EQ(body.front(), '0');
    EXPECT_EQ(body.back(), '3');  // the generated pattern's 40th byte
    EXPECT_EQ(out.status, 200);
}

// A body whose length shows only at its end (no Content-Length, the
// connection closes) is judged whole.
TEST_F(HttpRequestWire, AnUndeclaredBodyPastTheBoundIsRefused) {
    for (const std::size_t size : {100000, 100001}) {
        Reply reply;
        reply.bodySize = size;
        reply.contentLength = false;
        reply.close = true;
        const Endpoint e = endpoint({reply});
        Outputs out;
        HttpOptions options = out.options();
        options.maxBodyBytes = 100000;
        const Bytes body = HttpRequest(e.url("/audio"), options);
        if (size == 100000) {
            EXPECT_EQ(body.size(), size);
            EXPECT_EQ(out.status, 200);
        } else {
            expectNoResponse(body, out);
        }
    }
}

// A declared length past the bound ends the request as soon as the headers
// are in, without waiting for (or keeping) the body.
TEST_F(HttpRequestWire, ADeclaredLengthPastTheBoundEndsTheRequestAtOnce) {
    Reply huge;
    huge.mode = Reply::Mode::Stall;
    huge.withHeader("Content-Length: 2000000000");
    huge.bodySize = 1000;
    huge.stallAfter = 1000;
    huge.holdSeconds = 40;
    const Endpoint e = endpoint({huge});
    Outputs out;
    HttpOptions options = out.options();
    options.timeoutSeconds = 30;
    options.maxBodyBytes = 64 << 20;
    const auto start = std::chrono::steady_clock::now();
    expectNoResponse(HttpRequest(e.url("/audio"), options), out);
    EXPECT_LT(secondsSince(start), 5.0);
}

TEST_F(HttpRequestWire, ASlowAnswerWithinTheTimeoutArrives) {
    Reply slow = Reply{}.withBody("late but fine");
    slow.delaySeconds = 1.5;
    const Endpoint e = endpoint({slow});
    Outputs out;
    HttpOptions options = out.options();
    options.timeoutSeconds = 4;
    EXPECT_EQ(HttpRequest(e.url("/slow"), options), toBytes("late but fine"));
    EXPECT_EQ(out.status, 200);
}

TEST_F(HttpRequestWire, ADroppedConnectionGivesNoResponse) {
    Reply drop;
    drop.mode = Reply::Mode::Drop;
    const Endpoint e = endpoint({drop.always()});
    Outputs out;
    HttpOptions options = out.options();
    options.timeoutSeconds = 3;
    const auto start = std::chrono::steady_clock::now();
    expectNoResponse(HttpRequest(e.url("/drop"), options), out);
    EXPECT_LT(secondsSince(start), 5.0);
}

TEST_F(HttpRequestWire, AnUnreachablePortGivesNoResponseAtOnce) {
    const int port = test::unusedPort();
    ASSERT_NE(port, 0);
    Outputs out;
    out.cookies = "k = v";
    const auto start = std::chrono::steady_clock::now();
    expectNoResponse(HttpRequest("http://127.0.0.1:" + std::to_string(port) + "/", out.options()), out);
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_EQ(out.cookies, "k=v");
}

TEST_F(HttpRequestWire, HttpsWithATrustedCertificateSucceeds) {
    const Endpoint e = endpoint({Reply{}.withBody("secure")}, Tls::Trusted);
    Outputs out;
    HttpOptions options = out.options();
    options.method = 1;
    EXPECT_EQ(HttpRequest(e.url("/oauth/2.0/token"), options), toBytes("secure"));
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(e.log(1, 5).requests.size(), 1u);
}

TEST_F(HttpRequestWire, HttpsWithAnUntrustedCertificateFails) {
    const Endpoint e = endpoint({Reply{}.withBody("impostor")}, Tls::Untrusted);
    Outputs out;
    HttpOptions options = out.options();
    options.timeoutSeconds = 5;
    expectNoResponse(HttpRequest(e.url("/oauth/2.0/token?client_secret=k"), options), out);
    // The client completes the TLS handshake and judges the certificate
    // afterwards, so the server sees a connection but never a request.
    const test::ServerLog log = e.log();
    EXPECT_GE(log.connections, 1);
    EXPECT_TRUE(log.requests.empty());  // the secret in the URL never reached the impostor
}

TEST_F(HttpRequestWire, ASharedObjectCarriesTwoRequestsAndStaysUsable) {
    const ComScope com;
    AutomationObject shared;
    ASSERT_TRUE(shared.create("WinHttp.WinHttpRequest.5.1"));
    const Endpoint e = endpoint({Reply{}.withBody("first"), Reply{}.withBody("second")});
    HttpOptions options;
    options.sharedRequest = &shared;
    EXPECT_EQ(HttpRequest(e.url("/1"), options), toBytes("first"));
    EXPECT_EQ(HttpRequest(e.url("/2"), options), toBytes("second"));
    EXPECT_FALSE(shared.empty());
    EXPECT_EQ(variantNumber(shared.get("Status")), 200.0);
}

}  // namespace
}  // namespace qx
