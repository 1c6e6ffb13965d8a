#include "platform/winhttp_library.h"

#include "platform/system_library.h"

namespace qx {
namespace {

// The library and its functions, complete or not at all: a caller holds the
// table only when every function in it can be called.
struct LoadedWinHttp {
    UniqueHmodule module;
    WinHttpLibrary functions;
    bool complete = false;
};

LoadedWinHttp loadWinHttp() noexcept {
    LoadedWinHttp loaded;
    loaded.module = loadSystemLibrary(L"winhttp.dll");
    const HMODULE module = loaded.module.get();
    if (!module) return loaded;
    WinHttpLibrary& f = loaded.functions;
    f.open = procedureAddress<decltype(f.open)>(module, "WinHttpOpen");
    f.closeHandle = procedureAddress<decltype(f.closeHandle)>(module, "WinHttpCloseHandle");
    f.setTimeouts = procedureAddress<decltype(f.setTimeouts)>(module, "WinHttpSetTimeouts");
    f.getProxyForUrl = procedureAddress<decltype(f.getProxyForUrl)>(module, "WinHttpGetProxyForUrl");
    f.getIEProxyConfigForCurrentUser = procedureAddress<decltype(f.getIEProxyConfigForCurrentUser)>(
        module, "WinHttpGetIEProxyConfigForCurrentUser");
    loaded.complete = f.open && f.closeHandle && f.setTimeouts && f.getProxyForUrl && f.getIEProxyConfigForCurrentUser;
    return loaded;
}

}  // namespace

const WinHttpLibrary* winHttp() noexcept {
    // Loaded by the first caller on any thread (a function-local static is
    // initialised once, the others wait), kept until the process ends.
    static const LoadedWinHttp loaded = loadWinHttp();
    return loaded.complete ? &loaded.functions : nullptr;
}

}  // namespace qx
