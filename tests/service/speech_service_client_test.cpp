// The speech service client: what it sends, byte for byte, and how it reads
// the replies, against the loopback test server.
#include "service/speech_service_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

#include "net/proxy_choice.h"
#include "platform/unique.h"
#include "tests/support/internet_settings.h"
#include "tests/support/mp3_audio.h"
#include "tests/support/recording_dispatch.h"
#include "tests/support/test_server.h"

namespace qx {
namespace {

using test::Reply;
using test::Tls;

const Text kZhong = "\xD6\xD0";  // 中 in code page 936

// ---- the form and the URL, built without the network ----

struct FormCase {
    Text token, text, speed, pitch, volume, speaker;
    Text form;
};

// The fields in their order, the arguments as given, and the text as UTF-8
// encoded twice: each byte nine characters, a space "%2B".
TEST(SynthesisForm, FieldsInOrderWithTheTextEncodedTwice) {
    const FormCase cases[] = {
        {"T", "abc", "5", "5", "9", "0",
         "lan=zh&ctp=1&cuid=abcdxxx&tok=T&tex=%25%36%31%25%36%32%25%36%33&vol=9&per=0&spd=5&pit=5&aue=3"},
        {"T", "a b", "5", "5", "9", "0",
         "lan=zh&ctp=1&cuid=abcdxxx&tok=T&tex=%25%36%31%2B%25%36%32&vol=9&per=0&spd=5&pit=5&aue=3"},
        {"T", kZhong, "5", "5", "9", "0",
         "lan=zh&ctp=1&cuid=abcdxxx&tok=T&tex=%25%45%34%25%42%38%25%41%44&vol=9&per=0&spd=5&pit=5&aue=3"},
        {"T", "%+", "5", "5", "9", "0",
         "lan=zh&ctp=1&cuid=abcdxxx&tok=T&tex=%25%32%35%25%32%42&vol=9&per=0&spd=5&pit=5&aue=3"},
        {"T", "\r\n", "5", "5", "9", "0",
         "lan=zh&ctp=1&cuid=abcdxxx&tok=T&tex=%25%30%44%25%30%41&vol=9&per=0&spd=5&pit=5&aue=3"},
        {"qx.abc", "a", "3", "7", "15", "5003",
         "lan=zh&ctp=1&cuid=abcdxxx&tok=qx.abc&tex=%25%36%31&vol=15&per=5003&spd=3&pit=7&aue=3"},
        {"", "", "", "", "", "",
         "lan=zh&ctp=1&cuid=abcdxxx&tok=&tex=&vol=&per=&spd=&pit=&aue=3"},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.form);
        EXPECT_EQ(synthesisForm(c.token, c.text, c.speed, c.pitch, c.volume, c.speaker), c.form);
    }
}

// Each key as UTF-8 in the query encoding (its rows: url_encode_test), in its own place.
TEST(TokenUrl, KeysAreEncodedInTheirOwnPlaces) {
    EXPECT_EQ(tokenRequestUrl("https://h/oauth/2.0/token", "SECRET", "API"),
              "https://h/oauth/2.0/token?grant_type=client_credentials&client_secret=SECRET&client_id=API");
    EXPECT_EQ(tokenRequestUrl("https://h/oauth/2.0/token", "s&c #", kZhong + "+"),
              "https://h/oauth/2.0/token?grant_type=client_credentials&client_secret=s%26c%20%23"
              "&client_id=%E4%B8%AD%2B");
}

TEST(SpeechServiceClient, DefaultEndpointsComeFromBuildConfiguration) {
    const SpeechServiceClient client;
    EXPECT_THAT(client.tokenUrl(), ::testing::StartsWith("https://"));
    EXPECT_THAT(client.tokenUrl(), ::testing::EndsWith("/oauth/2.0/token"));
    EXPECT_THAT(client.synthesisUrl(), ::testing::StartsWith("https://"));
    EXPECT_THAT(client.synthesisUrl(), ::testing::EndsWith("/text2audio"));
}

// Both requests give the platform's request object 30 seconds, and both get
// TLS 1.2 added on a system that offers SSL 3.0 and TLS 1.0 only (Windows 7)
// with the certificate checks left on.
TEST(SpeechServiceClient, BothRequestsSetThirtySecondTimeoutsAndTheSameTls) {
    const ComScope com;
    const ComPtr<test::RecordingDispatch> fake = test::RecordingDispatch::create();
    fake->answerBool("WaitForResponse", true);
    fake->answerNumber("Status", 200);
    fake->answerNumber("Option", 0x00A0);
    const test::ClassOverride standIn("WinHttp.WinHttpRequest.5.1", fake.get());
    ASSERT_TRUE(standIn.active());
    const SpeechServiceClient client("https://token.invalid/oauth/2.0/token", "https://synthesis.invalid/text2audio");
    (void)client.requestToken("s", "a");
    (void)client.synthesize("t", "x", "5", "5", "9", "0");
    const char* const thirty = "method SetTimeouts(I4 30000, I4 30000, I4 30000, I4 30000)";
    EXPECT_THAT(fake->callsTo("SetTimeouts"), ::testing::ElementsAre(thirty, thirty));
    const char* const read = "get Option(I4 9)";
    const char* const tls12 = "put Option(I4 9, I4 2208)";
    EXPECT_THAT(fake->callsTo("Option"), ::testing::ElementsAre(read, tls12, read, tls12));
}

// ---- the user's proxy settings ----

struct ProxyCase {
    const char* name;
    ProxySettings settings;  // autoConfigUrl "served": the script below; "gone": nothing listens there
    // The route set for https://token.speech.test/... and for
    // http://api.synthesis.test/...: a proxy, "" for direct, null for none
    // (the object's default).
    const char* tokenProxy;
    const char* synthesisProxy;
};

void PrintTo(const ProxyCase& c, std::ostream* os) { *os << c.name; }

class ServiceProxy : public ::testing::TestWithParam<ProxyCase> {};

// The choice runs for real, by the system's functions and a script served
// from loopback; a recording double takes the calls (Wine's object ignores
// SetProxy).
TEST_P(ServiceProxy, EachRequestGetsTheProxyTheSettingsNameForItsUrl) {
    const test::TestServer server;
    Reply pac;
    pac.body = toBytes("function FindProxyForURL(url, host) { return host == \"token.speech.test\" ? "
                       "\"PROXY 127.0.0.1:3999; DIRECT\" : \"DIRECT\"; }");
    const test::Endpoint scripts = server.endpoint({pac.always()});
    ASSERT_TRUE(scripts.valid()) << server.error();
    ProxySettings settings = GetParam().settings;
    if (settings.autoConfigUrl == "served") settings.autoConfigUrl = scripts.url("/x.pac");
    if (settings.autoConfigUrl == "gone") settings.autoConfigUrl = "http://127.0.0.1:" + std::to_string(test::unusedPort());
    const test::UserInternetSettings user(settings);
    ASSERT_TRUE(user.active_);

    const ComScope com;
    const ComPtr<test::RecordingDispatch> fake = test::RecordingDispatch::create();
    fake->answerBool("WaitForResponse", true);
    const test::ClassOverride standIn("WinHttp.WinHttpRequest.5.1", fake.get());
    const SpeechServiceClient client("https://token.speech.test/t", "http://api.synthesis.test/text2audio");
    (void)client.requestToken("s", "a");
    (void)client.synthesize("t", "x", "5", "5", "9", "0");
    std::vector<std::string> expected;
    for (const char* proxy : {GetParam().tokenProxy, GetParam().synthesisProxy}) {
        if (!proxy) continue;
        expected.push_back(*proxy ? std::string("method SetProxy(I4 2, BSTR \"") + proxy + "\")" : "method SetProxy(I4 1)");
    }
    EXPECT_EQ(fake->callsTo("SetProxy"), expected);
}

ProxySettings proxy(Text fixed, Text bypass = {}, Text script = {}) {
    ProxySettings s;
    s.proxy = std::move(fixed);
    s.bypass = std::move(bypass);
    s.autoConfigUrl = std::move(script);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    , ServiceProxy,
    ::testing::Values(
        ProxyCase{"NothingSetKeepsTheDefault", {}, nullptr, nullptr},
        ProxyCase{"FixedBypassedByWildcard", proxy("p.test:3128", "*.synthesis.test"), "p.test:3128", ""},
        ProxyCase{"LocalBypassesNoDottedHost", proxy("p.test:3128", "<local>"), "p.test:3128", "p.test:3128"},
        ProxyCase{"PerScheme", proxy("http=web.test:80;https=tls.test:443"), "tls.test:443", "web.test:80"},
        ProxyCase{"Script", proxy("", "", "served"), "127.0.0.1:3999", ""},
        ProxyCase{"ScriptGoneFallsBackToFixed", proxy("p.test:3128", "", "gone"), "p.test:3128", "p.test:3128"},
        ProxyCase{"ScriptGoneWithoutFixedKeepsTheDefault", proxy("", "", "gone"), nullptr, nullptr}),
    [](const ::testing::TestParamInfo<ProxyCase>& info) { return std::string(info.param.name); });

// A proxy of the list that refuses the connection gives way to the next.
TEST(ServiceProxyList, AProxyThatCannotBeReachedGivesWayToTheNext) {
    const test::UserInternetSettings user(proxy("p.test:3128 q.test:3128"));
    ASSERT_TRUE(user.active_);
    const ComScope com;
    const ComPtr<test::RecordingDispatch> fake = test::RecordingDispatch::create();
    fake->answerBool("WaitForResponse", true);
    int sends = 0;
    constexpr HRESULT kCannotConnect = static_cast<HRESULT>(0x80072EFD);
    fake->onInvoke("Send", [&fake, &sends] { fake->fail("Send", ++sends == 1 ? kCannotConnect : S_OK); });
    fake->answerText("Option", "https://token.speech.test/t");  // no redirect followed
    const test::ClassOverride standIn("WinHttp.WinHttpRequest.5.1", fake.get());
    const SpeechServiceClient client("https://token.speech.test/t", "http://api.synthesis.test/text2audio");
    (void)client.requestToken("s", "a");
    (void)client.synthesize("t", "x", "5", "5", "9", "0");
    EXPECT_THAT(fake->callsTo("SetProxy"), ::testing::ElementsAre("method SetProxy(I4 2, BSTR \"p.test:3128\")",
                                                                  "method SetProxy(I4 2, BSTR \"q.test:3128\")",
                                                                  "method SetProxy(I4 2, BSTR \"p.test:3128\")"));
}

// ---- on the wire ----

class ServiceWire : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.available()) << server_.error(); }

    // An endpoint answering once with the reply, over TLS with the test CA's
    // certificate unless told otherwise.
    test::Endpoint endpoint(const Reply& reply, Tls tls = Tls::Trusted) {
        test::Endpoint e = server_.endpoint({reply}, tls);
        EXPECT_TRUE(e.valid());
        return e;
    }

    static Reply audioOfSize(std::size_t size, int status = 200) {
        Reply r;
        r.status = status;
        r.body = test::mp3Audio(size);
        r.headers = {"Content-Type: audio/mp3"};
        return r;
    }

    test::TestServer server_;
};

TEST_F(ServiceWire, SynthesisPostsTheFormByteForByte) {
    const test::Endpoint e = endpoint(audioOfSize(600));
    const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
    (void)client.synthesize("tok1", "a b", "5", "5", "9", "0");
    const test::ServerLog log = e.log(1, 10);
    ASSERT_EQ(log.requests.size(), 1u);
    const test::RecordedRequest& request = log.requests[0];
    EXPECT_EQ(request.method(), "POST");
    EXPECT_EQ(request.target(), "/text2audio");
    EXPECT_EQ(toText(request.body),
              "lan=zh&ctp=1&cuid=abcdxxx&tok=tok1&tex=%25%36%31%2B%25%36%32&vol=9&per=0&spd=5&pit=5&aue=3");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(request.body.size()));
}

TEST_F(ServiceWire, ChineseTextArrivesEncodedTwice) {
    const test::Endpoint e = endpoint(audioOfSize(600));
    const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
    (void)client.synthesize("", kZhong, "", "", "", "");
    const test::ServerLog log = e.log(1, 10);
    ASSERT_EQ(log.requests.size(), 1u);
    EXPECT_EQ(toText(log.requests[0].body),
              "lan=zh&ctp=1&cuid=abcdxxx&tok=&tex=%25%45%34%25%42%38%25%41%44&vol=&per=&spd=&pit=&aue=3");
}

TEST_F(ServiceWire, AudioOf500BytesIsReturnedWhole) {
    const test::Endpoint e = endpoint(audioOfSize(500));
    const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
    EXPECT_EQ(client.synthesize("t", "abc", "5", "5", "9", "0"), test::mp3Audio(500));
}

// What a reply that is no audio gives: "Large" for a reply the server sent,
// "NoReply" when none came whole; for a token reply, "" (refused as an empty one).
struct RefusalCase {
    const char* name;
    Reply reply;
    const char* marker = "Large";
    Tls tls = Tls::Trusted;
    bool token = false;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class ServiceRefusal : public ServiceWire, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ServiceRefusal, GivesTheMarker) {
    const test::Endpoint e = endpoint(GetParam().reply, GetParam().tls);
    if (GetParam().token) {
        EXPECT_EQ(SpeechServiceClient(e.url("/t"), "https://localhost:1/unused").requestToken("s", "a"), "");
        return;
    }
    const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
    EXPECT_EQ(client.synthesize("t", "abc", "5", "5", "9", "0"), toBytes(GetParam().marker));
}

// Audio, so that each case is refused for its own fault alone.
Reply sized(std::size_t size, int status) {
    Reply r;
    r.status = status;
    r.body = test::mp3Audio(size);
    return r;
}

Reply mode(Reply::Mode m) {
    Reply r;
    r.mode = m;
    return r;
}

Reply typed(std::size_t size, std::string type) {
    Reply r = sized(size, 200);
    r.headers = {"Content-Type: " + type};
    return r;
}

// The connection closes after 800 bytes of a body that declared 2000.
Reply cutOff() {
    Reply r = typed(800, "audio/mp3");
    r.headers.push_back("Content-Length: 2000");
    r.close = true;
    return r;
}

Reply htmlPage(int status) {
    Reply r;
    r.status = status;
    r.headers = {"Content-Type: text/html"};
    r.body = toBytes("<html><body><h1>Bad Gateway</h1>" + Text(600, ' ') + "</body></html>");
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    SynthesisReply, ServiceRefusal,
    ::testing::Values(RefusalCase{"Short499", sized(499, 200)},
                      RefusalCase{"Empty", sized(0, 200)},
                      RefusalCase{"ShortJsonError", [] {
                                      Reply r;
                                      r.headers = {"Content-Type: application/json"};
                                      r.body = toBytes("{\"refused\":\"unknown_token\",\"detail\":\"unknown access token\"}");
                                      return r;
                                  }()},
                      RefusalCase{"HtmlPageWith502", htmlPage(502)},
                      RefusalCase{"Long503", sized(4000, 503)},
                      RefusalCase{"Long404", sized(1000, 404)},
                      RefusalCase{"Long201", sized(1000, 201)},
                      RefusalCase{"DroppedConnection", mode(Reply::Mode::Drop), "NoReply"},
                      RefusalCase{"CutOffBeforeItsLength", cutOff(), "NoReply"},
                      RefusalCase{"UntrustedCertificate", typed(600, "audio/mp3"), "NoReply", Tls::Untrusted},
                      RefusalCase{"HtmlPageOf2KBWith200", typed(2048, "text/html; charset=utf-8")},
                      RefusalCase{"JsonOf600BytesWith200", typed(600, "application/json")},
                      RefusalCase{"NotMp3LabelledAudioWith200", [] {
                                      Reply r = typed(0, "audio/mp3");
                                      r.bodySize = 600;  // the server's "0123456789abc..."
                                      return r;
                                  }()},
                      RefusalCase{"TokenReplyOverTheBound", typed(64 * 1024 + 1, "application/json"), "", Tls::Trusted,
                                  true}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// A reply that declares more than any audio can be is abandoned as soon as
// its headers are in, without waiting for its body.
TEST_F(ServiceWire, AReplyDeclaredLongerThanAnyAudioIsAbandonedAtOnce) {
    Reply flood;
    flood.mode = Reply::Mode::Stall;
    flood.headers = {"Content-Type: audio/mp3", "Content-Length: " + std::to_string((64 << 20) + 1)};
    flood.bodySize = 5000;
    flood.stallAfter = 5000;
    flood.holdSeconds = 40;
    const test::Endpoint e = endpoint(flood);
    const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(toText(client.synthesize("t", "abc", "5", "5", "9", "0")), "NoReply");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

TEST_F(ServiceWire, TokenRequestIsPostWithEncodedKeysAndJsonContentType) {
    Reply reply;
    reply.headers = {"Content-Type: application/json"};
    reply.body = toBytes("{\"access_token\":\"abc\",\"expires_in\":2419200}");
    const test::Endpoint e = endpoint(reply, Tls::Trusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "https://localhost:1/unused");
    const Text answer = client.requestToken("s&c#r+t%", "api key");
    EXPECT_EQ(answer, "{\"access_token\":\"abc\",\"expires_in\":2419200}");
    const test::ServerLog log = e.log(1, 10);
    ASSERT_EQ(log.requests.size(), 1u);
    const test::RecordedRequest& request = log.requests[0];
    EXPECT_EQ(request.method(), "POST");
    EXPECT_EQ(request.target(),
              "/oauth/2.0/token?grant_type=client_credentials&client_secret=s%26c%23r%2Bt%25&client_id=api%20key");
    EXPECT_EQ(request.header("Content-Type"), "application/json;charset=UTF-8");
    EXPECT_TRUE(request.body.empty());
}

TEST_F(ServiceWire, OrdinaryKeysGoOutAsTyped) {
    const test::Endpoint e = endpoint(sized(10, 200), Tls::Trusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "https://localhost:1/unused");
    (void)client.requestToken("Gx7kYq2ZpL9aWm3RtV5bNc8dHs1fJe4u", "Ab3Cd5Ef7Gh9Ij1Kl3Mn5Op7");
    const test::ServerLog log = e.log(1, 10);
    ASSERT_EQ(log.requests.size(), 1u);
    EXPECT_EQ(log.requests[0].target(),
              "/oauth/2.0/token?grant_type=client_credentials&client_secret=Gx7kYq2ZpL9aWm3RtV5bNc8dHs1fJe4u"
              "&client_id=Ab3Cd5Ef7Gh9Ij1Kl3Mn5Op7");
}

TEST_F(ServiceWire, TokenReplyIsReturnedWhateverItsStatus) {
    Reply reply;
    reply.status = 401;
    reply.body = toBytes("{\"refused\":\"unknown_key\",\"detail\":\"no such API Key\"}");
    const test::Endpoint e = endpoint(reply, Tls::Trusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "https://localhost:1/unused");
    EXPECT_EQ(client.requestToken("s", "a"), "{\"refused\":\"unknown_key\",\"detail\":\"no such API Key\"}");
}

// The bound itself, 64 KiB, is still a token reply; one byte more is
// refused (ServiceRefusal.TokenReplyOverTheBound).
TEST_F(ServiceWire, TokenReplyOf64KiBIsReturnedWhole) {
    Reply reply;
    reply.body = toBytes(Text(64 * 1024, 'x'));
    const test::Endpoint e = endpoint(reply, Tls::Trusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "https://localhost:1/unused");
    EXPECT_EQ(client.requestToken("s", "a").size(), 64u * 1024);
}

TEST_F(ServiceWire, TokenReplyEndsAtFirstZeroByte) {
    Reply reply;
    reply.body = toBytes(std::string_view("{\"a\":1}\0tail", 12));
    const test::Endpoint e = endpoint(reply, Tls::Trusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "https://localhost:1/unused");
    EXPECT_EQ(client.requestToken("s", "a"), "{\"a\":1}");
}

TEST_F(ServiceWire, UntrustedCertificateGetsNoToken) {
    Reply reply;
    reply.body = toBytes("{\"access_token\":\"abc\"}");
    const test::Endpoint e = endpoint(reply, Tls::Untrusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "https://localhost:1/unused");
    EXPECT_EQ(client.requestToken("s", "a"), "");
    // The handshake failed, so no request ever reached the endpoint.
    EXPECT_TRUE(e.log().requests.empty());
}

TEST_F(ServiceWire, RefusedConnectionGivesEmptyTokenAndNoReply) {
    const int port = test::unusedPort();
    const SpeechServiceClient client("https://localhost:" + std::to_string(port) + "/oauth/2.0/token",
                                     "https://localhost:" + std::to_string(port) + "/text2audio");
    EXPECT_EQ(client.requestToken("s", "a"), "");
    EXPECT_EQ(toText(client.synthesize("t", "abc", "5", "5", "9", "0")), "NoReply");
}

}  // namespace
}  // namespace qx
