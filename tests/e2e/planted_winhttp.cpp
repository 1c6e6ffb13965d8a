// A stranger's winhttp.dll, as it may lie beside the program in a downloads
// folder: it exports what the program once imported from the system's, fails
// every call, and leaves a file in the current folder (the program's own, as
// the test starts it) when a process loads it.
#include <windows.h>

// WINAPI is __stdcall on i686, where the link exports the names without their
// @n suffix, as the system's DLL does (--kill-at).
extern "C" {
__declspec(dllexport) void* WINAPI WinHttpOpen(const void*, DWORD, const void*, const void*, DWORD) { return nullptr; }
__declspec(dllexport) BOOL WINAPI WinHttpCloseHandle(void*) { return FALSE; }
__declspec(dllexport) BOOL WINAPI WinHttpSetTimeouts(void*, int, int, int, int) { return FALSE; }
__declspec(dllexport) BOOL WINAPI WinHttpGetProxyForUrl(void*, const void*, void*, void*) { return FALSE; }
__declspec(dllexport) BOOL WINAPI WinHttpGetIEProxyConfigForCurrentUser(void*) { return FALSE; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        ::CloseHandle(::CreateFileW(L"planted-library-ran", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return TRUE;
}
}
