#pragma once
// Owners of what WinHTTP's flat functions hand out: session handles, and the
// strings of its proxy configurations, which the caller frees with GlobalFree.

#include <windows.h>
#include <winhttp.h>

#include "platform/unique.h"
#include "platform/winhttp_library.h"

namespace qx {

inline void closeInternetHandle(HINTERNET handle) noexcept {
    if (const WinHttpLibrary* library = winHttp()) (void)library->closeHandle(handle);
}
using UniqueHinternet = Unique<HINTERNET, &closeInternetHandle>;

inline void freeGlobalString(LPWSTR text) noexcept { (void)::GlobalFree(text); }
using UniqueGlobalString = Unique<LPWSTR, &freeGlobalString>;

}  // namespace qx
