#include <windows.h>

#include "job/output_stamp.h"

namespace qx {

Text makeOutputStamp() {
    const std::uint32_t seed = ::GetTickCount();
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    const StampTime now{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
    return makeOutputStamp(now, seed);
}

}  // namespace qx
