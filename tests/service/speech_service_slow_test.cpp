// The synthesis request with the client's own 30-second timeouts, against
// loopback servers that take longer than that: a reply that keeps coming is
// never cut off, one that stops is given up after about 30 seconds, as no reply. Each case
// takes half a minute or more (CTest label "slow"); they share nothing but
// the test server and can run side by side.
#include "service/speech_service_client.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/mp3_audio.h"
#include "tests/support/test_server.h"

namespace qx {
namespace {

using test::Reply;

class SlowSynthesis : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.available()) << server_.error(); }

    // The client's answer from an endpoint that replies once with reply, and
    // how long it took.
    Bytes synthesize(const Reply& reply, double& seconds) {
        const test::Endpoint e = server_.endpoint({reply}, test::Tls::Trusted);
        EXPECT_TRUE(e.valid());
        const SpeechServiceClient client("https://localhost:1/unused", e.url("/text2audio"));
        const auto start = std::chrono::steady_clock::now();
        Bytes result = client.synthesize("t", "abc", "5", "5", "9", "0");
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return result;
    }

    test::TestServer server_;
};

TEST_F(SlowSynthesis, AudioThatKeepsArrivingForMoreThan30SecondsIsWhole) {
    Reply drip;
    drip.mode = Reply::Mode::Drip;
    drip.body = test::mp3Audio(700);
    drip.dripBytes = 20;
    drip.dripInterval = 1.0;  // 35 pieces: 35 s
    double seconds = 0;
    const Bytes audio = synthesize(drip, seconds);
    EXPECT_GT(seconds, 34.0);
    EXPECT_EQ(audio, test::mp3Audio(700));
}

TEST_F(SlowSynthesis, AServerSilentFor35SecondsIsGivenUpAfter30) {
    Reply silent;
    silent.mode = Reply::Mode::Silent;
    silent.holdSeconds = 35;
    double seconds = 0;
    EXPECT_EQ(toText(synthesize(silent, seconds)), "NoReply");
    EXPECT_GT(seconds, 29.0);
    EXPECT_LT(seconds, 34.0);
}

TEST_F(SlowSynthesis, AudioThatStopsFor35SecondsIsGivenUpAfter30) {
    Reply stall;
    stall.mode = Reply::Mode::Stall;
    stall.body = test::mp3Audio(5000);
    stall.stallAfter = 600;
    stall.holdSeconds = 35;
    double seconds = 0;
    EXPECT_EQ(toText(synthesize(stall, seconds)), "NoReply");
    EXPECT_GT(seconds, 29.0);
    EXPECT_LT(seconds, 34.0);
}

}  // namespace
}  // namespace qx
