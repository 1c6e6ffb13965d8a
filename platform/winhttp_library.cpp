#include "platform/winhttp_library.h"

namespace qx {

const WinHttpLibrary* winHttp() noexcept {
    static const WinHttpLibrary library{&::WinHttpOpen, &::WinHttpCloseHandle, &::WinHttpSetTimeouts,
                                        &::WinHttpGetProxyForUrl, &::WinHttpGetIEProxyConfigForCurrentUser};
    return &library;
}

}  // namespace qx
