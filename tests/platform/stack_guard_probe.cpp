// stack_guard_probe: ends with its stack canary as the exit code; with the
// argument "overrun", writes past the end of a local array and returns.
#include <windows.h>

#include <cstdint>

extern "C" void* __stack_chk_guard;

__attribute__((noinline)) int overrun(int bytes) {
    char buffer[8];
    char* volatile out = buffer;  // hidden from the compiler's size checks
    for (int i = 0; i < bytes; ++i) out[i] = 'x';
    return buffer[0];
}

int wmain(int argc, wchar_t**) {
    if (argc > 1) return overrun(16 + argc);
    return static_cast<int>(reinterpret_cast<std::uintptr_t>(__stack_chk_guard));
}
