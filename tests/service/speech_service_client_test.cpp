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
#include "tests/support/recording_dispatch.h"
#include "tests/support/test_server.h"

namespace qx {
namespace {

using test::Reply;
using test::Tls;

const Text kZhong = "\xD6\xD0";  // 中 in code page 936

// ---- the form and the URL, built without the network ----

struct TexCase {
    const char* name;
    Text text;
    Text tex;
};

void PrintTo(const TexCase& c, std::ostream* os) { *os << c.name; }

class SynthesisFormTex : public ::testing::TestWithParam<TexCase> {};

TEST_P(SynthesisFormTex, TextIsEncodedTwice) {
    const Text form = synthesisForm("T", GetParam().text, "5", "5", "9", "0");
    EXPECT_EQ(form, "lan=zh&ctp=1&cuid=abcdxxx&tok=T&tex=" + GetParam().tex + "&vol=9&per=0&spd=5&pit=5&aue=3");
}

INSTANTIATE_TEST_SUITE_P(
    SynthesisForm, SynthesisFormTex,
    ::testing::Values(TexCase{"Letters", "abc", "%25%36%31%25%36%32%25%36%33"},
                      TexCase{"Space", "a b", "%25%36%31%2B%25%36%32"},
                      TexCase{"Zhong", kZhong, "%25%45%34%25%42%38%25%41%44"},
                      TexCase{"PercentAndPlus", "%+", "%25%32%35%25%32%42"},
                      TexCase{"LineBreak", "\r\n", "%25%30%44%25%30%41"},
                      TexCase{"Empty", "", ""}),
    [](const ::testing::TestParamInfo<TexCase>& info) { return std::string(info.param.name); });

TEST(SynthesisForm, FieldsInOrderWithArgumentsUnchanged) {
    EXPECT_EQ(synthesisForm("qx.abc", "a", "3", "7", "15", "5003"),
              "lan=zh&ctp=1&cuid=abcdxxx&tok=qx.abc&tex=%25%36%31&vol=15&per=5003&spd=3&pit=7&aue=3");
}

TEST(SynthesisForm, EmptyArgumentsAreEmptyValues) {
    EXPECT_EQ(synthesisForm("", "", "", "", "", ""), "lan=zh&ctp=1&cuid=abcdxxx&tok=&tex=&vol=&per=&spd=&pit=&aue=3");
}

TEST(SynthesisForm, EachUtf8ByteBecomesNineCharacters) {
    const Text text = kZhong + kZhong + " " + kZhong;  // 3 x 3 UTF-8 bytes and a space
    const Text form = synthesisForm("", text, "", "", "", "");
    const std::size_t start = form.find("&tex=") + 5;
    const std::size_t end = form.find("&vol=");
    EXPECT_EQ(end - start, 9u * 9u + 3u);
}

struct KeyCase {
    const char* name;
    Text key;
    Text encoded;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class TokenUrlKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(TokenUrlKeys, BothKeysArePercentEncoded) {
    EXPECT_EQ(tokenRequestUrl("https://h/oauth/2.0/token", GetParam().key, GetParam().key),
              "https://h/oauth/2.0/token?grant_type=client_credentials&client_secret=" + GetParam().encoded +
                  "&client_id=" + GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(
    TokenUrl, TokenUrlKeys,
    ::testing::Values(KeyCase{"Unreserved", "AZaz09-._~", "AZaz09-._~"},
                      KeyCase{"Ampersand", "a&b", "a%26b"},
                      KeyCase{"Hash", "a#b", "a%23b"},
                      KeyCase{"Plus", "a+b", "a%2Bb"},
                      KeyCase{"Percent", "a%41", "a%2541"},
                      KeyCase{"Space", "a b", "a%20b"},
                      KeyCase{"EqualsAndSlash", "a=/?", "a%3D%2F%3F"},
                      KeyCase{"Chinese", kZhong, "%E4%B8%AD"},
                      KeyCase{"Empty", "", ""}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST(TokenUrl, KeysStandInTheirOwnPlaces) {
    EXPECT_EQ(tokenRequestUrl("https://h/oauth/2.0/token", "SECRET", "API"),
              "https://h/oauth/2.0/token?grant_type=client_credentials&client_secret=SECRET&client_id=API");
}

TEST(SpeechServiceClient, DefaultEndpointsComeFromBuildConfiguration) {
    const SpeechServiceClient client;
    EXPECT_THAT(client.tokenUrl(), ::testing::StartsWith("https://"));
    EXPECT_THAT(client.tokenUrl(), ::testing::EndsWith("/oauth/2.0/token"));
    EXPECT_THAT(client.synthesisUrl(), ::testing::StartsWith("http://"));
    EXPECT_THAT(client.synthesisUrl(), ::testing::EndsWith("/text2audio"));
}

TEST(SpeechServiceClient, CloneKeepsEndpoints) {
    const SpeechServiceClient client("https://localhost:1/t", "http://localhost:2/s");
    const std::unique_ptr<SpeechServiceClient> copy = client.clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->tokenUrl(), "https://localhost:1/t");
    EXPECT_EQ(copy->synthesisUrl(), "http://localhost:2/s");
}

// Both requests give the platform's request object 30 seconds.
TEST(SpeechServiceClient, BothRequestsSetThirtySecondTimeouts) {
    const ComScope com;
    const ComPtr<test::RecordingDispatch> fake = test::RecordingDispatch::create();
    fake->answerBool("WaitForResponse", true);
    fake->answerNumber("Status", 200);
    const test::ClassOverride standIn("WinHttp.WinHttpRequest.5.1", fake.get());
    ASSERT_TRUE(standIn.active());
    const SpeechServiceClient client("https://token.invalid/oauth/2.0/token", "http://synthesis.invalid/text2audio");
    (void)client.requestToken("s", "a");
    (void)client.synthesize("t", "x", "5", "5", "9", "0");
    const char* const thirty = "method SetTimeouts(I4 30000, I4 30000, I4 30000, I4 30000)";
    EXPECT_THAT(fake->callsTo("SetTimeouts"), ::testing::ElementsAre(thirty, thirty));
}

// ---- the user's proxy settings ----

// The current user's Internet settings while it lives, in the value that
// WinHTTP reads them from (Connections\DefaultConnectionSettings: version,
// counter, flags, then the proxy, the bypass list and the script's URL, each
// with its length). HKEY_CURRENT_USER of this process is a private key that
// holds them, so other tests in the same prefix never see them.
class UserInternetSettings {
public:
    explicit UserInternetSettings(const ProxySettings& settings)
        : path_(L"Software\\QXttsTests\\InternetSettings" + std::to_wstring(::GetCurrentProcessId())) {
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_,
                              nullptr) != ERROR_SUCCESS) {
            return;
        }
        std::string blob;
        auto dword = [&blob](std::uint32_t v) { blob.append(reinterpret_cast<const char*>(&v), 4); };
        auto text = [&](const Text& t) {
            dword(static_cast<std::uint32_t>(t.size()));
            blob += t;
        };
        dword(0x46);
        dword(1);
        dword(1 | (settings.proxy.empty() ? 0 : 2) | (settings.autoConfigUrl.empty() ? 0 : 4) |
              (settings.autoDetect ? 8 : 0));
        text(settings.proxy);
        text(settings.bypass);
        text(settings.autoConfigUrl);
        blob.append(32, '\0');
        HKEY connections = nullptr;
        if (::RegCreateKeyExW(root_, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &connections, nullptr) != ERROR_SUCCESS) {
            return;
        }
        const bool written = ::RegSetValueExW(connections, L"DefaultConnectionSettings", 0, REG_BINARY,
                                              reinterpret_cast<const BYTE*>(blob.data()),
                                              static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
        ::RegCloseKey(connections);
        active_ = written && ::RegOverridePredefKey(HKEY_CURRENT_USER, root_) == ERROR_SUCCESS;
    }
    UserInternetSettings(const UserInternetSettings&) = delete;
    UserInternetSettings& operator=(const UserInternetSettings&) = delete;
    ~UserInternetSettings() {
        if (active_) ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (root_) ::RegCloseKey(root_);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    }
    [[nodiscard]] bool active() const { return active_; }

private:
    std::wstring path_;
    HKEY root_ = nullptr;
    bool active_ = false;
};

struct ProxyCase {
    const char* name;
    ProxySettings settings;
    const char* tokenUrl;
    const char* tokenProxy;      // "" for none
    const char* synthesisProxy;  // for http://api.synthesis.test/text2audio
};

void PrintTo(const ProxyCase& c, std::ostream* os) { *os << c.name; }

class ServiceProxy : public ::testing::TestWithParam<ProxyCase> {};

std::vector<std::string> setProxyCalls(const char* proxy) {
    if (!*proxy) return {};
    return {std::string("method SetProxy(I4 2, BSTR \"") + proxy + "\")"};
}

// The proxy for each request is chosen for real, by the system's functions
// (a configuration script served from loopback included), and handed to the
// request object (a recording double here: Wine's object ignores SetProxy).
TEST_P(ServiceProxy, EachRequestGetsTheProxyTheSettingsNameForItsUrl) {
    test::TestServer server;
    ASSERT_TRUE(server.available()) << server.error();
    Reply script;
    script.headers = {"Content-Type: application/x-ns-proxy-autoconfig"};
    script.body = toBytes(
        "function FindProxyForURL(url, host) {\n"
        "  if (host == \"token.speech.test\") return \"PROXY 127.0.0.1:3999; DIRECT\";\n"
        "  return \"DIRECT\";\n}\n");
    const test::Endpoint scripts = server.endpoint({script.forPath("/proxy.pac").always()});
    ASSERT_TRUE(scripts.valid());

    ProxySettings settings = GetParam().settings;
    if (settings.autoConfigUrl == "served") settings.autoConfigUrl = scripts.url("/proxy.pac");
    if (settings.autoConfigUrl == "unreachable") {
        settings.autoConfigUrl = "http://127.0.0.1:" + std::to_string(test::unusedPort()) + "/proxy.pac";
    }
    const UserInternetSettings user(settings);
    ASSERT_TRUE(user.active());

    const ComScope com;
    const ComPtr<test::RecordingDispatch> fake = test::RecordingDispatch::create();
    fake->answerBool("WaitForResponse", true);
    const test::ClassOverride standIn("WinHttp.WinHttpRequest.5.1", fake.get());
    ASSERT_TRUE(standIn.active());
    const SpeechServiceClient client(GetParam().tokenUrl, "http://api.synthesis.test/text2audio");
    (void)client.requestToken("s", "a");
    EXPECT_EQ(fake->callsTo("SetProxy"), setProxyCalls(GetParam().tokenProxy)) << "token";
    fake->clearCalls();
    (void)client.synthesize("t", "x", "5", "5", "9", "0");
    EXPECT_EQ(fake->callsTo("SetProxy"), setProxyCalls(GetParam().synthesisProxy)) << "synthesis";
}

ProxySettings fixed(Text proxy, Text bypass = {}) {
    ProxySettings s;
    s.proxy = std::move(proxy);
    s.bypass = std::move(bypass);
    return s;
}

ProxySettings scripted(Text url, Text fallback = {}) {
    ProxySettings s = fixed(std::move(fallback));
    s.autoConfigUrl = std::move(url);
    return s;
}

constexpr char kToken[] = "https://token.speech.test/oauth/2.0/token";

INSTANTIATE_TEST_SUITE_P(
    , ServiceProxy,
    ::testing::Values(
        ProxyCase{"DirectConnection", {}, kToken, "", ""},
        ProxyCase{"FixedProxy", fixed("proxy.test:3128"), kToken, "proxy.test:3128", "proxy.test:3128"},
        ProxyCase{"BypassedByWildcard", fixed("proxy.test:3128", "*.synthesis.test"), kToken, "proxy.test:3128", ""},
        ProxyCase{"LocalIsBypassed", fixed("proxy.test:3128", "<local>"), "https://tokenhost/oauth/2.0/token", "",
                  "proxy.test:3128"},
        ProxyCase{"PerScheme", fixed("http=web.test:80;https=secure.test:443"), kToken, "secure.test:443",
                  "web.test:80"},
        ProxyCase{"Script", scripted("served"), kToken, "127.0.0.1:3999", ""},
        ProxyCase{"ScriptUnreachableFallsBackToTheFixedProxy", scripted("unreachable", "proxy.test:3128"), kToken,
                  "proxy.test:3128", "proxy.test:3128"},
        ProxyCase{"ScriptUnreachableWithoutFixedProxyGoesDirect", scripted("unreachable"), kToken, "", ""}),
    [](const ::testing::TestParamInfo<ProxyCase>& info) { return std::string(info.param.name); });

// ---- on the wire ----

class ServiceWire : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.available()) << server_.error(); }

    // An endpoint answering once with the reply.
    test::Endpoint endpoint(const Reply& reply, Tls tls = Tls::None) {
        test::Endpoint e = server_.endpoint({reply}, tls);
        EXPECT_TRUE(e.valid());
        return e;
    }

    static Reply audioOfSize(std::size_t size, int status = 200) {
        Reply r;
        r.status = status;
        r.bodySize = size;
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
    const Bytes audio = client.synthesize("t", "abc", "5", "5", "9", "0");
    ASSERT_EQ(audio.size(), 500u);
    const Text expected = Text("0123456789abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(toText(audio).substr(0, expected.size()), expected);
}

struct RefusalCase {
    const char* name;
    Reply reply;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class ServiceRefusal : public ServiceWire, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ServiceRefusal, GivesTheMarker) {
    const test::Endpoint e = endpoint(GetParam().reply);
    const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
    const Bytes result = client.synthesize("t", "abc", "5", "5", "9", "0");
    EXPECT_EQ(toText(result), "Large");
    EXPECT_EQ(result.size(), 5u);
}

Reply sized(std::size_t size, int status) {
    Reply r;
    r.status = status;
    r.bodySize = size;
    return r;
}

Reply mode(Reply::Mode m) {
    Reply r;
    r.mode = m;
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
                      RefusalCase{"DroppedConnection", mode(Reply::Mode::Drop)}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// A reply that declares more than any audio can be is refused as soon as its
// headers are in, without waiting for its body.
TEST_F(ServiceWire, AReplyDeclaredLongerThanAnyAudioIsRefusedAtOnce) {
    Reply flood;
    flood.mode = Reply::Mode::Stall;
    flood.headers = {"Content-Type: audio/mp3", "Content-Length: " + std::to_string(kMaximumAudioBytes + 1)};
    flood.bodySize = 5000;
    flood.stallAfter = 5000;
    flood.holdSeconds = 40;
    const test::Endpoint e = endpoint(flood);
    const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(toText(client.synthesize("t", "abc", "5", "5", "9", "0")), "Large");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

// Replies that are not what they seem: cut off, a page of text, too long for
// a token. An accepted row gives the whole body back.
enum class Endpoint { Token, Synthesis };

struct ReplyCase {
    const char* name;
    Endpoint endpoint;
    Reply reply;
    bool refused;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ServiceReplies : public ServiceWire, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ServiceReplies, AreRefusedOrReturnedWhole) {
    const ReplyCase& c = GetParam();
    const test::Endpoint e = endpoint(c.reply, c.endpoint == Endpoint::Token ? Tls::Trusted : Tls::None);
    const std::size_t size = *c.reply.bodySize;
    if (c.endpoint == Endpoint::Token) {
        const SpeechServiceClient client(e.url("/oauth/2.0/token"), "http://localhost:1/unused");
        EXPECT_EQ(client.requestToken("s", "a").size(), c.refused ? 0u : size);
    } else {
        const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
        const Bytes result = client.synthesize("t", "abc", "5", "5", "9", "0");
        EXPECT_EQ(result.size(), c.refused ? 5u : size);
        if (c.refused) EXPECT_EQ(toText(result), "Large");
    }
}

Reply typed(std::size_t size, std::vector<std::string> headers) {
    Reply r;
    r.bodySize = size;
    r.headers = std::move(headers);
    return r;
}

// The connection closes after `sent` bytes of a body that declared `size`.
Reply cutOff(std::size_t size, std::size_t sent) {
    Reply r = typed(sent, {"Content-Type: audio/mp3", "Content-Length: " + std::to_string(size)});
    r.close = true;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    , ServiceReplies,
    ::testing::Values(
        ReplyCase{"AudioCutOffBeforeItsLength", Endpoint::Synthesis, cutOff(2000, 800), true},
        ReplyCase{"HtmlPageOf2KBWith200", Endpoint::Synthesis,
                  typed(2048, {"Content-Type: text/html; charset=utf-8"}), true},
        ReplyCase{"JsonErrorOf600BytesWith200", Endpoint::Synthesis, typed(600, {"Content-Type: application/json"}),
                  true},
        ReplyCase{"OctetStream", Endpoint::Synthesis, typed(600, {"Content-Type: application/octet-stream"}), false},
        ReplyCase{"NoContentType", Endpoint::Synthesis, typed(600, {}), false},
        ReplyCase{"TokenReplyOverTheBound", Endpoint::Token,
                  typed(kMaximumTokenReplyBytes + 1, {"Content-Type: application/json"}), true},
        ReplyCase{"TokenReplyAtTheBound", Endpoint::Token,
                  typed(kMaximumTokenReplyBytes, {"Content-Type: application/json"}), false}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

struct TypeCase {
    const char* contentType;
    bool text;
};

TEST(SynthesisReplyType, TextTypesAreNamedAsText) {
    const TypeCase cases[] = {
        {"text/html", true},
        {"TEXT/Plain; charset=GBK", true},
        {"text/xml", true},
        {"application/json;charset=UTF-8", true},
        {" application/xml", true},
        {"application/xhtml+xml", true},
        {"application/problem+json", true},
        {"audio/mp3", false},
        {"audio/mpeg", false},
        {"application/octet-stream", false},
        {"", false},
        {"application/jsonp-audio", false},
    };
    for (const TypeCase& c : cases) EXPECT_EQ(namesText(c.contentType), c.text) << c.contentType;
}

TEST_F(ServiceWire, TokenRequestIsPostWithEncodedKeysAndJsonContentType) {
    Reply reply;
    reply.headers = {"Content-Type: application/json"};
    reply.body = toBytes("{\"access_token\":\"abc\",\"expires_in\":2419200}");
    const test::Endpoint e = endpoint(reply, Tls::Trusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "http://localhost:1/unused");
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
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "http://localhost:1/unused");
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
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "http://localhost:1/unused");
    EXPECT_EQ(client.requestToken("s", "a"), "{\"refused\":\"unknown_key\",\"detail\":\"no such API Key\"}");
}

TEST_F(ServiceWire, TokenReplyEndsAtFirstZeroByte) {
    Reply reply;
    reply.body = toBytes(std::string_view("{\"a\":1}\0tail", 12));
    const test::Endpoint e = endpoint(reply, Tls::Trusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "http://localhost:1/unused");
    EXPECT_EQ(client.requestToken("s", "a"), "{\"a\":1}");
}

TEST_F(ServiceWire, UntrustedCertificateGetsNoToken) {
    Reply reply;
    reply.body = toBytes("{\"access_token\":\"abc\"}");
    const test::Endpoint e = endpoint(reply, Tls::Untrusted);
    const SpeechServiceClient client(e.url("/oauth/2.0/token"), "http://localhost:1/unused");
    EXPECT_EQ(client.requestToken("s", "a"), "");
    // The handshake failed, so no request ever reached the endpoint.
    EXPECT_TRUE(e.log().requests.empty());
}

TEST_F(ServiceWire, UnreachableServiceGivesEmptyTokenAndMarker) {
    const int port = test::unusedPort();
    const SpeechServiceClient client("https://localhost:" + std::to_string(port) + "/oauth/2.0/token",
                                     "http://127.0.0.1:" + std::to_string(port) + "/text2audio");
    EXPECT_EQ(client.requestToken("s", "a"), "");
    EXPECT_EQ(toText(client.synthesize("t", "abc", "5", "5", "9", "0")), "Large");
}

}  // namespace
}  // namespace qx
