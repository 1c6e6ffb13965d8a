#include "platform/automation_object.h"

#include <objbase.h>
#include <ole2.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "text/encoding.h"

namespace qx {

namespace {

// Frees the BSTRs an Invoke may leave in its EXCEPINFO.
struct ExcepInfo {
    EXCEPINFO info{};
    ExcepInfo(const ExcepInfo&) = delete;
    ExcepInfo& operator=(const ExcepInfo&) = delete;
    ExcepInfo() = default;
    ~ExcepInfo() {
        UniqueBstr source(info.bstrSource);
        UniqueBstr description(info.bstrDescription);
        UniqueBstr help(info.bstrHelpFile);
    }
};

// Runs the part of a call that allocates. These calls are noexcept, so
// running out of memory in them (or a size no string can hold) must become
// their failure, E_OUTOFMEMORY, and the empty result: escaping as an
// exception it would end the process in std::terminate.
template <class Result, class Operation>
Result unlessOutOfMemory(HRESULT& hr, Operation&& operation) noexcept {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    hr = E_OUTOFMEMORY;
    return Result{};
}

// Null when out of memory.
UniqueBstr makeBstr(std::string_view text) noexcept {
    HRESULT ignored = S_OK;
    return unlessOutOfMemory<UniqueBstr>(ignored, [&] {
        const std::wstring wide = widenText(text);
        return UniqueBstr(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    });
}

}  // namespace

bool AutomationArg::toVariant(UniqueVariant& out) const noexcept {
    VARIANT* v = out.put();
    if (const auto* text = std::get_if<std::string_view>(&value_)) {
        UniqueBstr bstr = makeBstr(*text);
        if (!bstr) return false;
        v->vt = VT_BSTR;
        v->bstrVal = bstr.release();
    } else if (const auto* number = std::get_if<std::int32_t>(&value_)) {
        v->vt = VT_I4;
        v->lVal = *number;
    } else if (const auto* flag = std::get_if<bool>(&value_)) {
        v->vt = VT_BOOL;
        v->boolVal = *flag ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (const auto* real = std::get_if<double>(&value_)) {
        v->vt = VT_R8;
        v->dblVal = *real;
    } else if (const auto* bytes = std::get_if<const Bytes*>(&value_)) {
        const Bytes& b = **bytes;
        UniqueSafeArray array(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(b.size())));
        if (!array) return false;
        if (!b.empty()) {
            void* data = nullptr;
            if (FAILED(::SafeArrayAccessData(array.get(), &data))) return false;
            std::memcpy(data, b.data(), b.size());
            ::SafeArrayUnaccessData(array.get());
        }
        v->vt = VT_ARRAY | VT_UI1;
        v->parray = array.release();
    }
    return true;
}

AutomationObject::AutomationObject(const AutomationObject& other) noexcept
    : object_(other.object_.copy()), hr_(other.hr_) {}

AutomationObject& AutomationObject::operator=(const AutomationObject& other) noexcept {
    if (this != &other) {
        object_ = other.object_.copy();
        hr_ = other.hr_;
    }
    return *this;
}

AutomationObject::AutomationObject(AutomationObject&& other) noexcept
    : object_(std::move(other.object_)), hr_(std::exchange(other.hr_, S_OK)) {}

AutomationObject& AutomationObject::operator=(AutomationObject&& other) noexcept {
    if (this != &other) {
        object_ = std::move(other.object_);
        hr_ = std::exchange(other.hr_, S_OK);
    }
    return *this;
}

void AutomationObject::clear() noexcept {
    object_.reset();
    hr_ = S_OK;
}

AutomationObject AutomationObject::fromUnknown(IUnknown* object) noexcept {
    AutomationObject handle;
    if (object) {
        object->AddRef();
        handle.object_ = ComPtr<IUnknown>::attach(object);
    }
    return handle;
}

bool AutomationObject::create(std::string_view progId) noexcept {
    object_.reset();
    hr_ = S_OK;
    const std::wstring wide = unlessOutOfMemory<std::wstring>(hr_, [&] { return widenText(progId); });
    if (hr_ == E_OUTOFMEMORY) return false;
    CLSID clsid{};
    hr_ = ::CLSIDFromProgID(wide.c_str(), &clsid);
    if (FAILED(hr_)) {
        hr_ = ::CLSIDFromString(wide.c_str(), &clsid);
        if (FAILED(hr_)) return false;
    }
    ComPtr<IUnknown> unknown;
    hr_ = ::CoCreateInstance(clsid, nullptr, 0x17, IID_IUnknown, unknown.putVoid());
    if (hr_ == E_INVALIDARG) hr_ = ::CoCreateInstance(clsid, nullptr, 0x7, IID_IUnknown, unknown.putVoid());
    if (FAILED(hr_)) return false;
    hr_ = ::OleRun(unknown.get());
    if (FAILED(hr_)) return false;  // the object is released with `unknown`
    object_ = std::move(unknown);
    return true;
}

UniqueVariant AutomationObject::invoke(std::string_view name, WORD flags,
                                       std::initializer_list<AutomationArg> args) noexcept {
    if (!object_) {
        hr_ = E_POINTER;
        return {};
    }
    ComPtr<IDispatch> dispatch = object_.query<IDispatch>(IID_IDispatch);
    if (!dispatch) {
        hr_ = E_NOINTERFACE;
        return {};
    }
    return unlessOutOfMemory<UniqueVariant>(hr_, [&] {
        UniqueVariant result;
        std::wstring wideName = widenText(name);
        LPOLESTR names[] = {wideName.data()};
        DISPID id = DISPID_UNKNOWN;
        hr_ = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr_)) return result;

        // Invoke wants the arguments last first.
        std::vector<UniqueVariant> owned(args.size());
        std::vector<VARIANT> raw(args.size());
        std::size_t i = args.size();
        for (const AutomationArg& arg : args) {
            --i;
            if (!arg.toVariant(owned[i])) {
                hr_ = E_OUTOFMEMORY;
                return result;
            }
            raw[i] = *owned[i].get();
        }
        DISPPARAMS params{raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
        DISPID putId = DISPID_PROPERTYPUT;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            params.rgdispidNamedArgs = &putId;
            params.cNamedArgs = 1;
        }
        ExcepInfo excep;
        UINT badArg = 0;
        hr_ = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                               (flags & DISPATCH_PROPERTYPUT) ? nullptr : result.put(), &excep.info, &badArg);
        if (FAILED(hr_)) result.reset();
        return result;
    });
}

bool AutomationObject::put(std::string_view name, std::initializer_list<AutomationArg> indexes,
                           const AutomationArg& value) noexcept {
    // The value goes last in natural order, so it lands first in rgvarg as
    // the property-put convention requires.
    std::vector<AutomationArg> all;
    if (!unlessOutOfMemory<bool>(hr_, [&] {
            all.assign(indexes);
            all.push_back(value);
            return true;
        })) {
        return false;
    }
    UniqueVariant ignored;
    switch (all.size()) {
        case 1: ignored = invoke(name, DISPATCH_PROPERTYPUT, {all[0]}); break;
        case 2: ignored = invoke(name, DISPATCH_PROPERTYPUT, {all[0], all[1]}); break;
        case 3: ignored = invoke(name, DISPATCH_PROPERTYPUT, {all[0], all[1], all[2]}); break;
        default: hr_ = E_INVALIDARG; break;
    }
    return SUCCEEDED(hr_);
}

Text variantText(const UniqueVariant& value) {
    const VARIANT* v = value.get();
    if (v->vt != VT_BSTR || !v->bstrVal) return {};
    return narrowText(std::wstring_view(v->bstrVal, ::SysStringLen(v->bstrVal)));
}

double variantNumber(const UniqueVariant& value) {
    const VARIANT* v = value.get();
    switch (v->vt) {
        case VT_BOOL: return v->boolVal ? -1.0 : 0.0;
        case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
        case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
        case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_DECIMAL: {
            VARIANT converted;
            ::VariantInit(&converted);
            if (FAILED(::VariantChangeType(&converted, const_cast<VARIANT*>(v), 0, VT_R8))) return 0.0;
            return converted.dblVal;
        }
        default: return 0.0;
    }
}

bool variantTrue(const UniqueVariant& value) noexcept {
    const VARIANT* v = value.get();
    return v->vt == VT_BOOL && v->boolVal != VARIANT_FALSE;
}

std::size_t variantByteCount(const UniqueVariant& value) noexcept {
    const VARIANT* v = value.get();
    if (v->vt != (VT_ARRAY | VT_UI1) || !v->parray) return 0;
    SAFEARRAY* array = v->parray;
    if (::SafeArrayGetDim(array) != 1) return 0;
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(array, 1, &lower);
    ::SafeArrayGetUBound(array, 1, &upper);
    if (upper < lower) return 0;
    return static_cast<std::size_t>(static_cast<std::int64_t>(upper) - lower + 1);
}

Bytes variantBytes(const UniqueVariant& value) {
    const std::size_t count = variantByteCount(value);
    if (count == 0) return {};
    SAFEARRAY* array = value.get()->parray;
    void* data = nullptr;
    if (FAILED(::SafeArrayAccessData(array, &data))) return {};
    const auto* first = static_cast<const std::uint8_t*>(data);
    Bytes bytes;
    try {
        bytes.assign(first, first + count);
    } catch (...) {
        ::SafeArrayUnaccessData(array);
        throw;  // out of memory: the caller decides, the array stays consistent
    }
    ::SafeArrayUnaccessData(array);
    return bytes;
}

}  // namespace qx
