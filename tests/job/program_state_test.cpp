#include "job/program_state.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qx {
namespace {

// One job replaces the token while the next reads it: every read sees one
// whole value that was written, never a mix.
TEST(ProgramState, ConcurrentReadersSeeWholeTokens) {
    ProgramState state;
    const Text a(4000, 'a');
    const Text b(20, 'b');
    state.setAccessToken(a);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const Text token = state.accessToken();
                if (token != a && token != b) ++torn;
            }
        });
    }
    for (int i = 0; i < 20000; ++i) state.setAccessToken(i % 2 ? a : b);
    stop = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace qx
