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

double msOf(const std::function<void()>& body) {
    const auto start = Clock::now();
    body();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    qx::ComScope com;
    bool ok = true;

    qx::JsonDocument doc;
    // One untimed round first: DLL loading belongs to the program's start.
    ok = ok && doc.parse(qx::test::kTokenReply) && doc.getText("['access_token']") == qx::test::kToken;

    // The parts are timed back to back in every run, so that load from
    // other processes hits them alike; shares are medians of per-run ratios.
    std::vector<double> total, engine, support, construct, engineShare, setUpShare;
    for (int i = 0; i < runs; ++i) {
        total.push_back(msOf([&] {
            ok = ok && doc.parse(qx::test::kTokenReply);
            ok = ok && doc.getText("['access_token']") == qx::test::kToken;
        }));
        engine.push_back(msOf([&] {
            qx::AutomationObject e;
            ok = ok && e.create("MSScriptControl.ScriptControl") && e.put("Language", "JavaScript");
        }));
        support.push_back(msOf([&] {
            qx::AutomationObject e;
            (void)e.create("MSScriptControl.ScriptControl");
            (void)e.put("Language", "JavaScript");
            (void)e.call("AddCode", {qx::JsonSupportScript});
            ok = ok && SUCCEEDED(e.lastResult());
        }));
        construct.push_back(msOf([&] { (void)std::make_unique<qx::JsonDocument>(); }));
        engineShare.push_back(engine.back() / total.back());
        setUpShare.push_back(support.back() / total.back());
    }

    std::printf("json: parse token reply + getText ['access_token'], median of %d runs\n", runs);
    std::printf("  parse + getText                  %8.3f ms\n", median(total));
    std::printf("  engine creation (create+Language) %7.3f ms  %3.0f%% of it\n", median(engine),
                100 * median(engineShare));
    std::printf("  engine + support script (%zu B) %7.3f ms  %3.0f%% of it\n", qx::JsonSupportScript.size(),
                median(support), 100 * median(setUpShare));
    std::printf("  new JsonDocument                 %8.3f ms\n", median(construct));
    if (!ok) std::printf("json: a run gave a wrong result\n");
    return ok ? 0 : 1;
}
