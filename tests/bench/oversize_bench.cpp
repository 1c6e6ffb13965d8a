// Sends the service client's token or synthesis request COUNT times in a
// row, each answered with a reply over its bound, as the job would on as
// many presses of Start. Prints one line per request ("request_ms <ms>
// <refused|accepted>"); a process that dies on the way prints fewer.
// Usage: oversize_bench.exe token|synth <url> <count>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/unique.h"
#include "service/speech_service_client.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: oversize_bench token|synth <url> <count>\n");
        return 2;
    }
    const std::string kind = argv[1];
    const std::string url = argv[2];
    const int count = std::atoi(argv[3]);
    // The job's thread is in COM for its whole life.
    const qx::ComScope com;
    const qx::SpeechServiceClient client(url, url);
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        bool refused = false;
        if (kind == "token") {
            refused = client.requestToken("bench-secret", "bench-api").empty();
        } else {
            // Either marker: audio is never shorter than 500 bytes.
            refused = client.synthesize("bench-token", "\xc4\xe3\xba\xc3", "5", "5", "5", "0").size() < 500;
        }
        ::QueryPerformanceCounter(&end);
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        std::printf("request_ms %.1f %s\n", ms, refused ? "refused" : "accepted");
        std::fflush(stdout);
    }
    return 0;
}
