#include "tests/support/recording_dispatch.h"

#include <objbase.h>
#include <olectl.h>

#include <cctype>
#include <cstdio>

namespace qx::test {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Code page 936 <-> UTF-16. A 936 character takes at most two bytes per
// UTF-16 unit, and at least one byte per unit the other way.
std::string gbk(std::wstring_view wide) {
    std::string out(2 * wide.size(), '\0');
    const int n = ::WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                        static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::wstring fromGbk(std::string_view bytes) {
    std::wstring out(bytes.size(), L'\0');
    const int n = ::MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                                        static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::string quoted(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string describe(const VARIANT& v) {
    switch (v.vt) {
        case VT_I4: return "I4 " + std::to_string(v.lVal);
        case VT_I2: return "I2 " + std::to_string(v.iVal);
        case VT_BOOL: return std::string("BOOL ") + (v.boolVal ? "true" : "false");
        case VT_R8: return "R8 " + std::to_string(v.dblVal);
        case VT_EMPTY: return "EMPTY";
        case VT_BSTR:
            return "BSTR " + quoted(v.bstrVal ? gbk(std::wstring_view(v.bstrVal, ::SysStringLen(v.bstrVal)))
                                              : std::string());
        case VT_ARRAY | VT_UI1: {
            UniqueVariant copy;
            if (FAILED(::VariantCopy(copy.put(), const_cast<VARIANT*>(&v)))) return "UI1[] ?";
            const Bytes bytes = variantBytes(copy);
            return "UI1[] " + std::to_string(bytes.size()) + " " +
                   quoted(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
        default: return "VT " + std::to_string(v.vt);
    }
}

std::string kindName(WORD flags) {
    if (flags & DISPATCH_PROPERTYPUT) return "put";
    if (flags & DISPATCH_PROPERTYPUTREF) return "putref";
    const bool method = flags & DISPATCH_METHOD;
    const bool get = flags & DISPATCH_PROPERTYGET;
    if (method && get) return "method|get";
    return get ? "get" : "method";
}

class Factory final : public ComObject<IClassFactory, IID_IClassFactory> {
public:
    Factory(IUnknown* object, std::vector<HRESULT> failures, HRESULT last)
        : object_(AutomationObject::fromUnknown(object)), failures_(std::move(failures)), last_(last) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        const std::size_t attempt = static_cast<std::size_t>(attempts_++);
        if (attempt < failures_.size()) return failures_[attempt];
        if (object_.empty()) return last_;
        return object_.unknown()->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    [[nodiscard]] int attempts() const { return attempts_; }

private:
    ~Factory() override = default;
    AutomationObject object_;  // holds the reference
    std::vector<HRESULT> failures_;
    HRESULT last_;
    int attempts_ = 0;
};

// One connection point that takes one sink at a time.
class SingleConnectionPoint final : public ComObject<IConnectionPoint, IID_IConnectionPoint> {
public:
    SingleConnectionPoint(IConnectionPointContainer* container, REFIID iid) : owner_(container), iid_(iid) {}
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = iid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
        if (!out) return E_POINTER;
        *out = owner_;  // the container outlives its point
        owner_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        if (sink_) return CONNECT_E_ADVISELIMIT;
        if (FAILED(sink->QueryInterface(iid_, sink_.putVoid()))) return CONNECT_E_CANNOTCONNECT;
        *cookie = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        if (cookie != 1 || !sink_) return CONNECT_E_NOCONNECTION;
        sink_.reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    [[nodiscard]] IUnknown* sink() const { return sink_.get(); }

private:
    ~SingleConnectionPoint() override = default;
    IConnectionPointContainer* owner_;
    IID iid_;
    ComPtr<IUnknown> sink_;
};

// The double's connection point container, handed out by its
// QueryInterface; any other interface is asked of the double.
class EventsContainer final : public ComObject<IConnectionPointContainer, IID_IConnectionPointContainer> {
public:
    EventsContainer(IDispatch* object, REFIID iid)
        : object_(object), point_(ComPtr<IConnectionPoint>::attach(new SingleConnectionPoint(this, iid))) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IConnectionPointContainer) return ComObject::QueryInterface(iid, out);
        return object_->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        IID offered{};
        if (FAILED(point_->GetConnectionInterface(&offered)) || offered != iid) return CONNECT_E_NOCONNECTION;
        *out = point_.get();
        point_->AddRef();
        return S_OK;
    }
    [[nodiscard]] IUnknown* sink() const { return static_cast<SingleConnectionPoint*>(point_.get())->sink(); }

private:
    ~EventsContainer() override = default;
    IDispatch* object_;  // the double, which holds this container
    ComPtr<IConnectionPoint> point_;
};

}  // namespace

ComPtr<RecordingDispatch> RecordingDispatch::create() {
    return ComPtr<RecordingDispatch>::attach(new RecordingDispatch());
}

AutomationObject RecordingDispatch::handle() { return AutomationObject::fromUnknown(this); }

std::vector<std::string> RecordingDispatch::callsTo(std::string_view name) const {
    std::vector<std::string> out;
    const std::string wanted = lower(name);
    for (const std::string& call : calls_) {
        const std::size_t space = call.find(' ');
        const std::size_t paren = call.find('(');
        if (lower(call.substr(space + 1, paren - space - 1)) == wanted) out.push_back(call);
    }
    return out;
}

std::vector<std::string> RecordingDispatch::names() const {
    std::vector<std::string> out;
    for (const std::string& call : calls_) {
        const std::size_t space = call.find(' ');
        out.push_back(call.substr(space + 1, call.find('(') - space - 1));
    }
    return out;
}

RecordingDispatch::Answer& RecordingDispatch::answerFor(std::string_view name) { return answers_[lower(name)]; }

void RecordingDispatch::answerText(std::string_view name, std::string_view text) {
    Answer& answer = answerFor(name);
    answer.hr = S_OK;
    const std::wstring wide = fromGbk(text);
    VARIANT* v = answer.value.put();
    v->vt = VT_BSTR;
    v->bstrVal = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

void RecordingDispatch::answerBytes(std::string_view name, const Bytes& bytes) {
    Answer& answer = answerFor(name);
    answer.hr = S_OK;
    (void)AutomationArg(bytes).toVariant(answer.value);
}

void RecordingDispatch::answerNumber(std::string_view name, std::int32_t number) {
    Answer& answer = answerFor(name);
    answer.hr = S_OK;
    (void)AutomationArg(number).toVariant(answer.value);
}

void RecordingDispatch::answerBool(std::string_view name, bool flag) {
    Answer& answer = answerFor(name);
    answer.hr = S_OK;
    (void)AutomationArg(flag).toVariant(answer.value);
}

void RecordingDispatch::fail(std::string_view name, HRESULT hr) {
    Answer& answer = answerFor(name);
    answer.hr = hr;
    answer.value.reset();
}

void RecordingDispatch::onInvoke(std::string_view name, std::function<void()> action) {
    answerFor(name).action = std::move(action);
}

void RecordingDispatch::delay(std::string_view name, DWORD milliseconds) { answerFor(name).delayMs = milliseconds; }

void RecordingDispatch::offerEvents(REFIID iid) {
    events_ = ComPtr<IConnectionPointContainer>::attach(new EventsContainer(this, iid));
}

IUnknown* RecordingDispatch::advised() const {
    return events_ ? static_cast<EventsContainer*>(events_.get())->sink() : nullptr;
}

HRESULT RecordingDispatch::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IConnectionPointContainer && events_ && out) return events_->QueryInterface(iid, out);
    return ComObject::QueryInterface(iid, out);
}

HRESULT RecordingDispatch::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

HRESULT RecordingDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT RecordingDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i) {
        const std::string name = gbk(names[i] ? std::wstring_view(names[i]) : std::wstring_view());
        const std::string key = lower(name);
        DISPID id = 0;
        for (std::size_t j = 0; j < idNames_.size(); ++j) {
            if (lower(idNames_[j]) == key) id = static_cast<DISPID>(j + 1);
        }
        if (id == 0) {
            idNames_.push_back(name);
            id = static_cast<DISPID>(idNames_.size());
        } else {
            idNames_[static_cast<std::size_t>(id - 1)] = name;
        }
        ids[i] = id;
    }
    return S_OK;
}

HRESULT RecordingDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO*, UINT*) {
    if (id < 1 || static_cast<std::size_t>(id) > idNames_.size()) return DISP_E_MEMBERNOTFOUND;
    const std::string& name = idNames_[static_cast<std::size_t>(id - 1)];
    std::string entry = kindName(flags) + " " + name + "(";
    if (params) {
        // rgvarg holds the arguments last first.
        for (UINT i = params->cArgs; i > 0; --i) {
            if (i != params->cArgs) entry += ", ";
            entry += describe(params->rgvarg[i - 1]);
        }
    }
    entry += ")";
    calls_.push_back(entry);

    const auto found = answers_.find(lower(name));
    if (found == answers_.end()) return S_OK;
    if (found->second.action) found->second.action();
    if (found->second.delayMs) ::Sleep(found->second.delayMs);
    if (FAILED(found->second.hr)) return found->second.hr;
    if (result) return ::VariantCopy(result, found->second.value.get());
    return S_OK;
}

ClassOverride::ClassOverride(std::string_view progId, HRESULT hr)
    : factory_(ComPtr<IClassFactory>::attach(new Factory(nullptr, {}, hr))) {
    registerFactory(progId);
}

ClassOverride::ClassOverride(std::string_view progId, IUnknown* object, std::vector<HRESULT> failuresFirst)
    : factory_(ComPtr<IClassFactory>::attach(new Factory(object, std::move(failuresFirst), E_FAIL))) {
    registerFactory(progId);
}

void ClassOverride::registerFactory(std::string_view progId) {
    const std::wstring wide = fromGbk(progId);
    CLSID clsid{};
    if (FAILED(::CLSIDFromProgID(wide.c_str(), &clsid))) return;
    if (FAILED(::CoRegisterClassObject(clsid, factory_.get(), CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie_))) {
        cookie_ = 0;
    }
}

int ClassOverride::attempts() const { return static_cast<Factory*>(factory_.get())->attempts(); }

ClassOverride::~ClassOverride() {
    if (cookie_) ::CoRevokeClassObject(cookie_);
}

}  // namespace qx::test
