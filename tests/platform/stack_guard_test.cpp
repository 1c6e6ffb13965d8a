#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

extern "C" void* __stack_chk_guard;

namespace qx {
namespace {

__attribute__((noinline)) int overrun(int bytes) {
    char buffer[8];
    char* volatile out = buffer;  // hidden from the compiler's size checks
    for (int i = 0; i < bytes; ++i) out[i] = 'x';
    return buffer[0];
}

// Each death test runs its statement in a new process of this executable.
TEST(StackGuardDeathTest, EachProcessHasItsOwnRandomCanary) {
    const auto canary = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(__stack_chk_guard));
    EXPECT_NE(canary, 0u);
    EXPECT_EXIT(::ExitProcess(static_cast<UINT>(reinterpret_cast<std::uintptr_t>(__stack_chk_guard))),
                [canary](int code) { return static_cast<UINT>(code) != canary; }, "");
}

TEST(StackGuardDeathTest, SmashedStackEndsTheProcessAsAnOverrun) {
    EXPECT_EXIT(overrun(24), ::testing::ExitedWithCode(static_cast<int>(0xC0000409)), "");  // STATUS_STACK_BUFFER_OVERRUN
}

}  // namespace
}  // namespace qx
