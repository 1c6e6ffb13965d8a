#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/unique.h"

namespace qx {
namespace {

// stack_guard_probe.exe, built beside this test, run with `argument`; its
// exit code.
DWORD runProbe(const std::wstring& argument) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring probe(self);
    probe = probe.substr(0, probe.rfind(L'\\')) + L"\\stack_guard_probe.exe";
    std::wstring commandLine = L"\"" + probe + L"\" " + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!::CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &child))
        return 0;
    UniqueHandle process(child.hProcess), thread(child.hThread);
    ::WaitForSingleObject(process.get(), 30000);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

TEST(StackGuard, EachProcessHasItsOwnRandomCanary) {
    const DWORD first = runProbe(L""), second = runProbe(L"");
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
}

TEST(StackGuard, SmashedStackEndsTheProcessAsAnOverrun) {
    EXPECT_EQ(runProbe(L"overrun"), 0xC0000409u);  // STATUS_STACK_BUFFER_OVERRUN
}

}  // namespace
}  // namespace qx
