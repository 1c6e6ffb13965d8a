// Times the two requests of one Start (the token request and the synthesis
// request, through the speech service client) with the user's Internet
// settings on "automatically detect" beside "direct connection", the two
// taking turns in one run. The first Start with detection searches the
// network for a configuration script; the later ones should cost what a
// direct Start costs. Needs the loopback test server.
// Usage: proxy_bench.exe <starts per setting>. Prints every sample (the Start,
// and the proxy look-ups alone) and the medians.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "net/proxy_choice.h"
#include "net/system_proxy_win.h"
#include "platform/unique.h"
#include "service/speech_service_client.h"
#include "tests/support/internet_settings.h"
#include "tests/support/mp3_audio.h"
#include "tests/support/test_server.h"

namespace {

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

struct Sample {
    double startMs = -1;   // both requests, their look-ups included; negative: no answer
    double lookupMs = -1;  // systemProxiesFor for both URLs, right after
};

// One Start's requests under the settings.
Sample timedStart(const qx::SpeechServiceClient& client, bool detect) {
    qx::ProxySettings settings;
    settings.autoDetect = detect;
    const qx::test::UserInternetSettings user(settings);
    if (!user.active_) return {};
    using Clock = std::chrono::steady_clock;
    auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    Sample sample;
    const Clock::time_point start = Clock::now();
    (void)client.requestToken("secret", "key");  // answered with the same bytes: not a token, but timed alike
    const qx::Bytes audio = client.synthesize("t", "x", "5", "5", "9", "0");
    if (audio.size() >= 500) sample.startMs = ms(Clock::now() - start);
    // The look-ups alone, once more, as the next Start makes them.
    const Clock::time_point lookup = Clock::now();
    (void)qx::systemProxiesFor(client.tokenUrl());
    (void)qx::systemProxiesFor(client.synthesisUrl());
    sample.lookupMs = ms(Clock::now() - lookup);
    return sample;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const qx::test::TestServer server;
    qx::test::Reply reply;
    reply.withHeader("Content-Type: audio/mp3").always();
    reply.body = qx::test::mp3Audio(600);  // the client takes only MP3 for audio
    // Plain HTTP: the user settings stand in for HKEY_CURRENT_USER, where the
    // test CA is trusted.
    const qx::test::Endpoint endpoint = server.endpoint({reply});
    if (!endpoint.valid()) {
        std::fprintf(stderr, "no test server: %s\n", server.error().c_str());
        return 1;
    }
    const qx::ComScope com;  // the job's thread stays in COM through a Start
    const qx::SpeechServiceClient client(endpoint.url("/oauth/2.0/token"), endpoint.url("/text2audio"));
    // A first direct Start warms up the request object; the first one with
    // detection pays the search.
    const Sample first = timedStart(client, false).startMs < 0 ? Sample{} : timedStart(client, true);
    if (first.startMs < 0) {
        std::fprintf(stderr, "the first Starts got no audio\n");
        return 1;
    }
    std::printf("first_detect_ms %.3f\n", first.startMs);
    std::vector<double> starts[2], lookups[2];  // [0] direct, [1] detect
    for (int i = 0; i < count; ++i) {
        // Taking turns in both orders, so that neither setting always runs
        // right after the other.
        for (const bool detecting : {i % 2 == 1, i % 2 == 0}) {
            const Sample sample = timedStart(client, detecting);
            if (sample.startMs < 0) {
                std::fprintf(stderr, "a Start got no answer\n");
                return 1;
            }
            starts[detecting].push_back(sample.startMs);
            lookups[detecting].push_back(sample.lookupMs);
            std::printf("sample %s start_ms %.3f lookup_ms %.3f\n", detecting ? "detect" : "direct", sample.startMs,
                        sample.lookupMs);
        }
    }
    const double direct = median(starts[0]), detect = median(starts[1]);
    std::printf("median_lookup_direct_ms %.3f\nmedian_lookup_detect_ms %.3f\n", median(lookups[0]),
                median(lookups[1]));
    std::printf("median_direct_ms %.3f\nmedian_detect_ms %.3f\nratio %.3f\n", direct, detect, detect / direct);
    return 0;
}
