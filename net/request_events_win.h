#pragma once
// The events of the platform's HTTP request object, and a sink that keeps
// what they tell of one response. Windows' object offers them through its
// connection point; Wine's object has none.

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <cstdint>

#include "platform/com_object.h"
#include "platform/unique.h"

namespace qx {

// IWinHttpRequestEvents as the object calls it (httprequest.idl; the MinGW
// headers do not declare it). Its methods return nothing.
inline constexpr IID kIidWinHttpRequestEvents = {
    0xf97f4e15, 0xb787, 0x4212, {0x80, 0xd1, 0xd3, 0x80, 0xcb, 0xbf, 0x98, 0x2e}};

struct IWinHttpRequestEvents : public IUnknown {
    virtual void STDMETHODCALLTYPE OnResponseStart(long status, BSTR contentType) = 0;
    virtual void STDMETHODCALLTYPE OnResponseDataAvailable(SAFEARRAY** data) = 0;
    virtual void STDMETHODCALLTYPE OnResponseFinished() = 0;
    virtual void STDMETHODCALLTYPE OnError(long errorNumber, BSTR errorDescription) = 0;
};

// Whether the response has started, how many body bytes have arrived, and
// how the request ended: finished, or failed with the object's error number.
// The object may fire its events from a thread of its own, so the counts are
// atomic, and nothing here calls back into the object.
class ResponseProgress final : public ComObject<IWinHttpRequestEvents, kIidWinHttpRequestEvents> {
public:
    [[nodiscard]] static ComPtr<ResponseProgress> create();

    [[nodiscard]] bool started() const noexcept { return started_.load(); }
    [[nodiscard]] std::uint64_t bytes() const noexcept { return bytes_.load(); }
    [[nodiscard]] bool finished() const noexcept { return finished_.load(); }
    // The error the object reported (an HRESULT), or S_OK while it reported none.
    [[nodiscard]] HRESULT error() const noexcept { return error_.load(); }

    void STDMETHODCALLTYPE OnResponseStart(long status, BSTR contentType) override;
    void STDMETHODCALLTYPE OnResponseDataAvailable(SAFEARRAY** data) override;
    void STDMETHODCALLTYPE OnResponseFinished() override;
    void STDMETHODCALLTYPE OnError(long errorNumber, BSTR errorDescription) override;

private:
    ResponseProgress() = default;
    ~ResponseProgress() override = default;

    std::atomic<bool> started_{false};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<bool> finished_{false};
    std::atomic<HRESULT> error_{S_OK};
};

}  // namespace qx
