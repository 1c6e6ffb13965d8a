// A stranger's winhttp.dll, as it may lie in a downloads folder beside the
// program. It exports the functions that the program once imported from the
// system's winhttp.dll, so a program that imports them would start with it,
// and it leaves a file beside itself when any process loads it. Its
// functions fail as the system's do when nothing is configured.
#include <windows.h>

#include <string>

namespace {

void leaveMarker(HINSTANCE self) {
    wchar_t path[MAX_PATH];  // the test's work folder: a short path
    const DWORD n = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    std::wstring marker(path, n);
    marker.resize(marker.rfind(L'\\') + 1);
    marker += L"planted-library-ran";
    const HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

BOOL fail() {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

}  // namespace

// WINAPI: __stdcall on i686, where the build exports the names without their
// @n suffix as the system's DLL does (--kill-at); x86_64 has one convention.
extern "C" {
__declspec(dllexport) void* WINAPI WinHttpOpen(const wchar_t*, DWORD, const wchar_t*, const wchar_t*, DWORD) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}
__declspec(dllexport) BOOL WINAPI WinHttpCloseHandle(void*) { return fail(); }
__declspec(dllexport) BOOL WINAPI WinHttpSetTimeouts(void*, int, int, int, int) { return fail(); }
__declspec(dllexport) BOOL WINAPI WinHttpGetProxyForUrl(void*, const wchar_t*, void*, void*) { return fail(); }
__declspec(dllexport) BOOL WINAPI WinHttpGetIEProxyConfigForCurrentUser(void*) { return fail(); }

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) leaveMarker(self);
    return TRUE;
}
}
