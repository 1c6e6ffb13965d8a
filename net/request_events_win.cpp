#include "net/request_events_win.h"

#include <new>

namespace qx {

ComPtr<ResponseProgress> ResponseProgress::create() {
    return ComPtr<ResponseProgress>::attach(new (std::nothrow) ResponseProgress());
}

void ResponseProgress::OnResponseStart(long, BSTR) { started_ = true; }

// Each event hands over the bytes of one read.
void ResponseProgress::OnResponseDataAvailable(SAFEARRAY** data) {
    started_ = true;
    if (!data || !*data || ::SafeArrayGetDim(*data) != 1) return;
    LONG lower = 0, upper = -1;
    if (FAILED(::SafeArrayGetLBound(*data, 1, &lower)) || FAILED(::SafeArrayGetUBound(*data, 1, &upper))) return;
    if (upper >= lower) bytes_ += static_cast<std::uint64_t>(static_cast<std::int64_t>(upper) - lower + 1);
}

void ResponseProgress::OnResponseFinished() { finished_ = true; }

// The number is an HRESULT (a WinHTTP error as 0x80072Fxx); one that does not
// read as a failure still ends the request as failed.
void ResponseProgress::OnError(long errorNumber, BSTR) {
    const auto hr = static_cast<HRESULT>(errorNumber);
    error_ = FAILED(hr) ? hr : E_FAIL;
}

}  // namespace qx
