// Times one POST through HttpRequest, as the speech service client makes it:
// a fresh request object per call, a form body, the default header block.
// Usage: http_bench.exe <url> <count> [held]. Prints one line per request and
// the median. With "held" the thread stays in COM between requests, as the
// synthesis job's thread does (its JSON document entered COM first); without
// it every request enters and leaves COM from scratch.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "net/http_request.h"
#include "platform/unique.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: http_bench <url> <count>\n");
        return 2;
    }
    const std::string url = argv[1];
    const int count = std::max(1, std::atoi(argv[2]));
    const bool held = argc > 3 && std::string(argv[3]) == "held";
    std::optional<qx::ComScope> com;
    if (held) com.emplace();
    const qx::Text form = "lan=zh&ctp=1&cuid=abcdxxx&tok=qxemu.0123456789abcdef&tex=%25E4%25BD%25A0%25E5%25A5%25BD"
                          "&vol=5&per=0&spd=5&pit=5&aue=3";
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> samples;
    for (int i = 0; i <= count; ++i) {  // the first request warms up and is not counted
        qx::HttpOptions options;
        options.method = 1;
        options.body = form;
        options.timeoutSeconds = 30;
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        const qx::Bytes body = qx::HttpRequest(url, options);
        ::QueryPerformanceCounter(&end);
        if (body.empty()) {
            std::fprintf(stderr, "request %d got no response\n", i);
            return 1;
        }
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        if (i > 0) {
            samples.push_back(ms);
            std::printf("sample_ms %.3f\n", ms);
        }
    }
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    std::printf("median_ms %.3f\n", median);
    return 0;
}
