// The speech service client against the local emulator of the service: a
// real token over HTTPS with a checked certificate, real MP3 audio, and the
// service's faults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <ostream>
#include <string>

#include "platform/unique.h"
#include "service/speech_service_client.h"
#include "tests/support/test_server.h"

namespace qx {
namespace {

// The key pair the fixture starts the emulator with (tests/service/CMakeLists.txt).
constexpr const char* kApiKey = "test-api-key";
constexpr const char* kSecretKey = "test-secret-key";

const Text kHello = "\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7";       // 你好，世界 in code page 936
const Text kHelloUtf8 = "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C";
// kHelloUtf8 percent-encoded twice, as the form carries it.
const Text kHelloTex =
    "%25%45%34%25%42%44%25%41%30%25%45%35%25%41%35%25%42%44%25%45%46%25%42%43%25%38%43"
    "%25%45%34%25%42%38%25%39%36%25%45%37%25%39%35%25%38%43";

struct EmulatorPorts {
    int token = 0;
    int synthesis = 0;
};

// The emulator's state file, named by the fixture as a host path.
EmulatorPorts readPorts() {
    EmulatorPorts ports;
    const char* state = std::getenv("QX_SERVICE_EMULATOR_STATE");
    if (state == nullptr) return ports;
    std::string path = state;
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        path = "Z:" + path;
    }
    std::ifstream in(path);
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    ports.token = std::atoi(values["token_port"].c_str());
    ports.synthesis = std::atoi(values["synth_port"].c_str());
    return ports;
}

// The value of a string member in the emulator's JSON reply (written by
// Python's json.dumps: "name": "value").
Text jsonString(const Text& json, const Text& name) {
    const Text key = "\"" + name + "\": \"";
    const std::size_t at = json.find(key);
    if (at == Text::npos) return {};
    const std::size_t start = at + key.size();
    const std::size_t end = json.find('"', start);
    return end == Text::npos ? Text() : json.substr(start, end - start);
}

bool looksLikeMp3(const Bytes& audio) {
    if (audio.size() < 4) return false;
    if (audio[0] == 'I' && audio[1] == 'D' && audio[2] == '3') return true;
    return audio[0] == 0xFF && (audio[1] & 0xE0) == 0xE0;  // a frame sync
}

class ServiceEmulator : public ::testing::Test {
protected:
    void SetUp() override {
        ports_ = readPorts();
        ASSERT_NE(ports_.token, 0) << "no emulator state in QX_SERVICE_EMULATOR_STATE";
        ASSERT_NE(ports_.synthesis, 0);
        ASSERT_EQ(control("{\"clear_faults\": true}"), 200);
    }

    SpeechServiceClient client() const {
        return SpeechServiceClient("https://localhost:" + std::to_string(ports_.token) + "/oauth/2.0/token",
                                   "https://localhost:" + std::to_string(ports_.synthesis) + "/text2audio");
    }

    int control(std::string_view order) const {
        return test::controlRequest(ports_.synthesis, "POST", "/_control", order).status;
    }

    // One part ("body", "target", "text") of the last request that reached the endpoint.
    std::string last(std::string_view endpoint, std::string_view part) const {
        const std::string path = "/_control/last?endpoint=" + std::string(endpoint) + "&part=" + std::string(part);
        return test::controlRequest(ports_.synthesis, "GET", path).body;
    }

    Text token() const { return jsonString(client().requestToken(kSecretKey, kApiKey), "access_token"); }

    // The client is called as the job calls it: inside COM held for the
    // whole job (the job's JSON document enters it), so that a request's own
    // CoUninitialize never ends the thread's apartment.
    ComScope com_;
    EmulatorPorts ports_;
};

TEST_F(ServiceEmulator, RealTokenThenRealAudio) {
    const Text reply = client().requestToken(kSecretKey, kApiKey);
    const Text accessToken = jsonString(reply, "access_token");
    ASSERT_FALSE(accessToken.empty()) << reply;
    EXPECT_NE(reply.find("\"expires_in\""), Text::npos);

    const Bytes audio = client().synthesize(accessToken, kHello, "5", "5", "9", "0");
    ASSERT_GE(audio.size(), 500u) << toText(audio);
    EXPECT_TRUE(looksLikeMp3(audio));
    EXPECT_EQ(last("synth", "body"),
              "lan=zh&ctp=1&cuid=abcdxxx&tok=" + accessToken + "&tex=" + kHelloTex + "&vol=9&per=0&spd=5&pit=5&aue=3");
    // The service read the very text, decoded twice, as UTF-8.
    EXPECT_EQ(last("synth", "text"), kHelloUtf8);
}

TEST_F(ServiceEmulator, LongerTextGivesLongerAudio) {
    const Text accessToken = token();
    ASSERT_FALSE(accessToken.empty());
    const Bytes shortAudio = client().synthesize(accessToken, kHello, "5", "5", "9", "0");
    const Bytes longAudio = client().synthesize(accessToken, kHello + kHello + kHello, "5", "5", "9", "0");
    ASSERT_GE(shortAudio.size(), 500u);
    EXPECT_GT(longAudio.size(), shortAudio.size() * 2);
}

TEST_F(ServiceEmulator, EverySpeakerAndExtremeSettingsGiveAudio) {
    const Text accessToken = token();
    ASSERT_FALSE(accessToken.empty());
    for (const char* speaker : {"0", "1", "3", "4", "5003", "5118", "106", "110", "111", "103", "5"}) {
        EXPECT_GE(client().synthesize(accessToken, kHello, "5", "5", "9", speaker).size(), 500u) << speaker;
    }
    EXPECT_GE(client().synthesize(accessToken, kHello, "0", "0", "0", "0").size(), 500u);
    EXPECT_GE(client().synthesize(accessToken, kHello, "9", "9", "15", "5").size(), 500u);
}

TEST_F(ServiceEmulator, KeysWithReservedCharactersGetAToken) {
    // Unencoded, the "&" would end client_secret and the "+" turn into a space.
    ASSERT_EQ(control("{\"add_keys\": {\"api+1 x\": \"s&e#c%r=t\"}}"), 200);
    const Text reply = client().requestToken("s&e#c%r=t", "api+1 x");
    EXPECT_FALSE(jsonString(reply, "access_token").empty()) << reply;
    EXPECT_EQ(last("token", "target"),
              "/oauth/2.0/token?grant_type=client_credentials&client_secret=s%26e%23c%25r%3Dt&client_id=api%2B1%20x");
}

TEST_F(ServiceEmulator, RefusedCredentialsGiveTheErrorText) {
    const Text reply = client().requestToken("wrong", kApiKey);
    EXPECT_TRUE(jsonString(reply, "access_token").empty());
    EXPECT_NE(reply.find("\"refused\""), Text::npos) << reply;
}

TEST_F(ServiceEmulator, RefusedSynthesisGivesTheMarker) {
    const Text accessToken = token();
    ASSERT_FALSE(accessToken.empty());
    EXPECT_EQ(toText(client().synthesize("not-a-token", kHello, "5", "5", "9", "0")), "Large");
    EXPECT_EQ(toText(client().synthesize(accessToken, "", "5", "5", "9", "0")), "Large");
    Text longest;
    for (int i = 0; i < 512; ++i) longest += "\xBA\xC3";  // 好: 1024 bytes in code page 936
    EXPECT_GE(client().synthesize(accessToken, longest, "9", "5", "9", "0").size(), 500u);
    EXPECT_EQ(toText(client().synthesize(accessToken, longest + "a", "9", "5", "9", "0")), "Large");
}

struct FaultCase {
    const char* name;
    const char* fault;
    std::size_t size;    // the result's size
    const char* marker;  // the marker it is, or nullptr for audio
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class ServiceEmulatorFault : public ServiceEmulator, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ServiceEmulatorFault, SynthesisResult) {
    const Text accessToken = token();
    ASSERT_FALSE(accessToken.empty());
    ASSERT_EQ(control("{\"fault\": \"" + std::string(GetParam().fault) + "\"}"), 200);
    const Bytes result = client().synthesize(accessToken, kHello, "5", "5", "9", "0");
    EXPECT_EQ(result.size(), GetParam().size);
    if (GetParam().marker) {
        EXPECT_EQ(toText(result), GetParam().marker);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ServiceEmulatorFault,
    ::testing::Values(FaultCase{"Exactly500", "synth:size=500", 500, nullptr},
                      FaultCase{"Exactly499", "synth:size=499", 5, "Large"},
                      FaultCase{"HtmlErrorPage", "synth:html=502", 5, "Large"},
                      FaultCase{"Long503", "synth:size=2000,status=503", 5, "Large"},
                      FaultCase{"Dropped", "synth:drop", 7, "NoReply"},
                      FaultCase{"RefusedBeforeTheHandshake", "refuse", 7, "NoReply"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(ServiceEmulator, TokenReplyThatIsNotJsonIsHandedBackUnchanged) {
    ASSERT_EQ(control("{\"fault\": \"token:not_json\"}"), 200);
    const Text reply = client().requestToken(kSecretKey, kApiKey);
    EXPECT_EQ(reply, "access_token: this reply is not JSON\n");
}

TEST_F(ServiceEmulator, DroppedTokenRequestGivesEmptyText) {
    ASSERT_EQ(control("{\"fault\": \"token:drop\"}"), 200);
    EXPECT_EQ(client().requestToken(kSecretKey, kApiKey), "");
}

}  // namespace
}  // namespace qx
