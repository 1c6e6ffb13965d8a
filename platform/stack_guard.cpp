// The stack protector's canary and its failure handlers, defined here so
// that the link takes these in place of GCC's libssp. libssp seeds the canary
// in a constructor through CryptoAPI: CryptAcquireContext loads a
// cryptographic provider, found through the registry, with the libraries it
// needs (traced under Wine: bcrypt, crypt32 and rsaenh, loaded and unloaded
// again), on every start, before the entry point can restrict where DLLs come
// from. RtlGenRandom asks the system's random source and loads no provider.

#include <windows.h>
#include <ntsecapi.h>

#include <cstdint>

extern "C" {
// The names and types the compiler's instrumentation refers to.
void* __stack_chk_guard = nullptr;
[[noreturn]] void __stack_chk_fail();
[[noreturn]] void __stack_chk_fail_local();
[[noreturn]] void __chk_fail();
}

namespace {

// No canary in this function: it would be read before the seed and checked
// after it. It runs before every other constructor, while no function that
// checks the canary has started.
__attribute__((constructor(101), no_stack_protector)) void seedStackGuard() {
    // advapi32's SystemFunction036; advapi32 is imported anyway.
    if (::RtlGenRandom(&__stack_chk_guard, sizeof __stack_chk_guard)) return;
    // Not expected to fail. If it does, what the Windows SDK's own runtime
    // seeds its security cookie with: the time, the process and thread ids,
    // the performance counter, and an address that moves with ASLR.
    FILETIME time{};
    ::GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    const std::uintptr_t mixed = (std::uintptr_t{time.dwLowDateTime} ^ time.dwHighDateTime) ^
                                 (std::uintptr_t{::GetCurrentProcessId()} << 8) ^ ::GetCurrentThreadId() ^
                                 (static_cast<std::uintptr_t>(counter.LowPart) << 16) ^ counter.HighPart ^
                                 reinterpret_cast<std::uintptr_t>(&counter);
    __stack_chk_guard = reinterpret_cast<void*>(mixed);
}

// A smashed stack or an overrun that a checked copy caught: the process ends
// at once, as a program built by the Windows SDK's compiler ends, with
// STATUS_STACK_BUFFER_OVERRUN, which Windows Error Reporting records. From
// Windows 8 on through the fail-fast interrupt (__fastfail with
// FAST_FAIL_STACK_COOKIE_CHECK_FAILURE), which runs no handler of the
// damaged process; before that, and under Wine 8, by terminating it.
[[noreturn]] void endOverrun() {
    if (::IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) asm volatile("int $0x29" : : "c"(2));
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
    __builtin_unreachable();
}

}  // namespace

extern "C" {
void __stack_chk_fail() { endOverrun(); }
void __stack_chk_fail_local() { endOverrun(); }
void __chk_fail() { endOverrun(); }
}
