#pragma once
// A recording IDispatch test double: it accepts every member name, logs each
// invocation with its kind and its arguments, and answers with the results a
// test scripted (VT_EMPTY and S_OK for anything not scripted).
//
// Log entries read like
//   method SetTimeouts(I4 15000, I4 15000, I4 15000, I4 15000)
//   method Open(BSTR "POST", BSTR "http://x/", BOOL true)
//   put Option(I4 6, I4 0)
//   method|get GetallResponseHeaders()
//   method Send(UI1[] 3 "abc")
// Texts are shown in code page 936, byte arrays with their length and bytes.
// The double converts texts with the platform's own calls, not the
// program's converter, so that a fault there shows in the log.

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation_object.h"
#include "platform/com_object.h"
#include "platform/unique.h"
#include "text/text.h"

namespace qx::test {

class RecordingDispatch final : public ComObject<IDispatch, IID_IDispatch> {
public:
    // A new double, held by the returned handle.
    static ComPtr<RecordingDispatch> create();

    // An AutomationObject sharing this double.
    [[nodiscard]] AutomationObject handle();

    [[nodiscard]] const std::vector<std::string>& calls() const { return calls_; }
    // The entries whose member name equals name (any case).
    [[nodiscard]] std::vector<std::string> callsTo(std::string_view name) const;
    // The member names, in call order.
    [[nodiscard]] std::vector<std::string> names() const;
    void clearCalls() { calls_.clear(); }

    // Results of a member (name in any case), for every later invocation.
    void answerText(std::string_view name, std::string_view text);
    void answerBytes(std::string_view name, const Bytes& bytes);
    void answerNumber(std::string_view name, std::int32_t number);
    void answerBool(std::string_view name, bool flag);
    void fail(std::string_view name, HRESULT hr);
    // Each later invocation of name first runs action (after it is logged;
    // the action may change answers), then waits that long, then answers.
    void onInvoke(std::string_view name, std::function<void()> action);
    void delay(std::string_view name, DWORD milliseconds);

    // Offers one connection point for the events interface iid; advised()
    // is the sink advised on it, or null.
    void offerEvents(REFIID iid);
    [[nodiscard]] IUnknown* advised() const;

    // IUnknown: IConnectionPointContainer too, after offerEvents
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

private:
    RecordingDispatch() = default;
    ~RecordingDispatch() override = default;

    struct Answer {
        HRESULT hr = S_OK;
        UniqueVariant value;
        std::function<void()> action;
        DWORD delayMs = 0;
    };
    Answer& answerFor(std::string_view name);

    std::vector<std::string> idNames_;   // index = DISPID - 1; spelling of the latest lookup
    std::map<std::string, Answer> answers_;  // by lower-case name
    std::vector<std::string> calls_;
    ComPtr<IConnectionPointContainer> events_;  // after offerEvents
};

// Stands in for the class registered under a ProgID while it lives (for
// this thread's apartment): object creation gets the failures in order, one
// per attempt, and then the given object, or failures only without one.
class ClassOverride {
public:
    ClassOverride(std::string_view progId, HRESULT hr);
    ClassOverride(std::string_view progId, IUnknown* object, std::vector<HRESULT> failuresFirst = {});
    ClassOverride(const ClassOverride&) = delete;
    ClassOverride& operator=(const ClassOverride&) = delete;
    ~ClassOverride();
    [[nodiscard]] bool active() const { return cookie_ != 0; }
    // How many times creation was asked of the stand-in.
    [[nodiscard]] int attempts() const;

private:
    void registerFactory(std::string_view progId);
    ComPtr<IClassFactory> factory_;
    DWORD cookie_ = 0;
};

}  // namespace qx::test
