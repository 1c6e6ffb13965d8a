#pragma once
// A handle to one COM automation object, driven by member name through
// IDispatch. Copying a handle shares the object; clearing it releases the
// reference. Nothing throws: a failing operation leaves its HRESULT in the
// handle and gives the empty value of its kind.
//
// Texts cross the boundary as BSTRs converted from and to code page 936
// explicitly (Text is GBK by definition, whatever the ANSI code page).

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

#include "platform/unique.h"
#include "text/text.h"

namespace qx {

// One argument of an automation call.
class AutomationArg {
public:
    AutomationArg(std::string_view text) : value_(text) {}  // NOLINT: implicit by design
    AutomationArg(const char* text) : value_(std::string_view(text)) {}  // NOLINT
    AutomationArg(const Text& text) : value_(std::string_view(text)) {}  // NOLINT
    AutomationArg(std::int32_t number) : value_(number) {}  // NOLINT
    AutomationArg(bool flag) : value_(flag) {}  // NOLINT
    AutomationArg(double number) : value_(number) {}  // NOLINT
    AutomationArg(const Bytes& bytes) : value_(&bytes) {}  // NOLINT: sent as VT_ARRAY|VT_UI1

    // Fills a VARIANT owned by the caller. False when out of memory.
    [[nodiscard]] bool toVariant(UniqueVariant& out) const noexcept;

private:
    std::variant<std::string_view, std::int32_t, bool, double, const Bytes*> value_;
};

class AutomationObject {
public:
    AutomationObject() noexcept = default;
    AutomationObject(const AutomationObject& other) noexcept;
    AutomationObject& operator=(const AutomationObject& other) noexcept;
    AutomationObject(AutomationObject&& other) noexcept;
    AutomationObject& operator=(AutomationObject&& other) noexcept;
    ~AutomationObject() = default;

    // Creates the object registered under progId (CLSIDFromProgID, else
    // CLSIDFromString; CoCreateInstance for IUnknown with class context 0x17,
    // once more with 0x7 on E_INVALIDARG; OleRun). The current thread must be
    // in COM. Any object held before is released first.
    bool create(std::string_view progId) noexcept;

    // Wraps an object the caller already has (the reference is shared).
    [[nodiscard]] static AutomationObject fromUnknown(IUnknown* object) noexcept;

    void clear() noexcept;
    [[nodiscard]] bool empty() const noexcept { return !object_; }
    [[nodiscard]] HRESULT lastResult() const noexcept { return hr_; }
    [[nodiscard]] IUnknown* unknown() const noexcept { return object_.get(); }

    // Invokes name with the given flags (DISPATCH_METHOD, DISPATCH_PROPERTYGET,
    // or both). The arguments are given in their natural order.
    [[nodiscard]] UniqueVariant invoke(std::string_view name, WORD flags,
                                       std::initializer_list<AutomationArg> args = {}) noexcept;

    [[nodiscard]] UniqueVariant call(std::string_view name,
                                     std::initializer_list<AutomationArg> args = {}) noexcept {
        return invoke(name, DISPATCH_METHOD, args);
    }
    [[nodiscard]] UniqueVariant get(std::string_view name,
                                    std::initializer_list<AutomationArg> args = {}) noexcept {
        return invoke(name, DISPATCH_PROPERTYGET, args);
    }
    // Property write; for an indexed property the index arguments come first.
    bool put(std::string_view name, std::initializer_list<AutomationArg> indexes,
             const AutomationArg& value) noexcept;
    bool put(std::string_view name, const AutomationArg& value) noexcept { return put(name, {}, value); }

private:
    ComPtr<IUnknown> object_;
    HRESULT hr_ = S_OK;
};

// Conversions of a call's result, each with the empty value for any other kind.
[[nodiscard]] Text variantText(const UniqueVariant& value);          // VT_BSTR only
[[nodiscard]] double variantNumber(const UniqueVariant& value);      // numbers, dates; bool -1/0
[[nodiscard]] bool variantTrue(const UniqueVariant& value) noexcept; // VT_BOOL true only
[[nodiscard]] Bytes variantBytes(const UniqueVariant& value);        // VT_ARRAY|VT_UI1
// The length of a VT_ARRAY|VT_UI1 value without copying it (to judge its size first).
[[nodiscard]] std::size_t variantByteCount(const UniqueVariant& value) noexcept;

}  // namespace qx
