#pragma once
// WinHTTP's flat functions, reached through one table. The program looks
// them up on first use instead of importing them: a DLL that is not one of
// the system's KnownDLLs, imported by name, is searched for in the program's
// own folder first, so a file of that name lying beside the executable would
// run inside the program.

#include <windows.h>
#include <winhttp.h>

namespace qx {

struct WinHttpLibrary {
    decltype(&::WinHttpOpen) open = nullptr;
    decltype(&::WinHttpCloseHandle) closeHandle = nullptr;
    decltype(&::WinHttpSetTimeouts) setTimeouts = nullptr;
    decltype(&::WinHttpGetProxyForUrl) getProxyForUrl = nullptr;
    decltype(&::WinHttpGetIEProxyConfigForCurrentUser) getIEProxyConfigForCurrentUser = nullptr;
};

// The functions, or null when the library cannot be loaded (every caller
// then acts as if the call had failed). Loaded once, kept until the process ends.
[[nodiscard]] const WinHttpLibrary* winHttp() noexcept;

}  // namespace qx
