// Benchmark of the token read: parse of a token reply followed by getText of
// "['access_token']", and how much of it is creating the script engine.
//
//   json_bench.exe [runs]      (default 50; prints medians in milliseconds)
//
// parse always starts a fresh engine, so its cost splits into: creating the
// engine and setting its language, adding the support script, and the parse
// and read proper. Each part is timed on its own over the same number of runs.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "json/json_document.h"
#include "json/json_support_script.h"
#include "platform/automation_object.h"
#include "platform/unique.h"
#include "tests/json/json_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double medianMs(int runs, const std::function<void()>& body) {
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        body();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    return n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    qx::ComScope com;
    bool ok = true;

    qx::JsonDocument doc;
    // One untimed round first: DLL loading belongs to the program's start.
    ok = ok && doc.parse(qx::test::kTokenReply) && doc.getText("['access_token']") == qx::test::kToken;

    const double total = medianMs(runs, [&] {
        ok = ok && doc.parse(qx::test::kTokenReply);
        ok = ok && doc.getText("['access_token']") == qx::test::kToken;
    });
    const double engine = medianMs(runs, [&] {
        qx::AutomationObject e;
        ok = ok && e.create("MSScriptControl.ScriptControl") && e.put("Language", "JavaScript");
    });
    const double support = medianMs(runs, [&] {
        qx::AutomationObject e;
        (void)e.create("MSScriptControl.ScriptControl");
        (void)e.put("Language", "JavaScript");
        (void)e.call("AddCode", {qx::JsonSupportScript});
        ok = ok && SUCCEEDED(e.lastResult());
    });
    const double construct = medianMs(runs, [&] { (void)std::make_unique<qx::JsonDocument>(); });

    std::printf("json: parse token reply + getText ['access_token'], median of %d runs\n", runs);
    std::printf("  parse + getText          %8.3f ms\n", total);
    std::printf("  of which engine creation %8.3f ms (create + Language)\n", engine);
    std::printf("  engine + support script  %8.3f ms (support script alone %.3f ms, %zu bytes)\n", support,
                support - engine, qx::JsonSupportScript.size());
    std::printf("  rest (parse, read)       %8.3f ms\n", total - support);
    std::printf("  new JsonDocument         %8.3f ms (COM entry + engine + support + variable)\n", construct);
    if (!ok) std::printf("json: a run gave a wrong result\n");
    return ok ? 0 : 1;
}
