#pragma once
// One owner per platform resource: small move-only types, so that no code
// outside platform/ calls CloseHandle, DeleteObject, Release, SysFreeString,
// VariantClear or SafeArrayDestroy by hand.

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace qx {

// What an owner holds when it holds nothing: T{} for most handles.
template <class T>
struct NullIsEmpty {
    static T empty() noexcept { return T{}; }
    static bool isEmpty(T value) noexcept { return value == T{}; }
};

// Owner of a handle-like value T that is closed with Close and is empty when
// Empty says so.
template <class T, auto Close, class Empty = NullIsEmpty<T>>
class Unique {
public:
    Unique() noexcept = default;
    explicit Unique(T value) noexcept : value_(value) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Unique() { reset(); }

    [[nodiscard]] T get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return !Empty::isEmpty(value_); }
    explicit operator bool() const noexcept { return valid(); }

    // Address for an out parameter; the old value is closed first.
    [[nodiscard]] T* put() noexcept {
        reset();
        return &value_;
    }
    void reset(T value = Empty::empty()) noexcept {
        T old = std::exchange(value_, value);
        if (!Empty::isEmpty(old)) Close(old);
    }
    [[nodiscard]] T release() noexcept { return std::exchange(value_, Empty::empty()); }

private:
    T value_ = Empty::empty();
};

using UniqueHandle = Unique<HANDLE, &::CloseHandle>;  // threads, events, processes
using UniqueHicon = Unique<HICON, &::DestroyIcon>;
using UniqueHfont = Unique<HFONT, &::DeleteObject>;
using UniqueHglobal = Unique<HGLOBAL, &::GlobalFree>;
using UniqueHmodule = Unique<HMODULE, &::FreeLibrary>;  // from LoadLibrary, never GetModuleHandle

// A file handle: CreateFile reports failure as INVALID_HANDLE_VALUE, not null.
struct FileHandleIsEmpty {
    static HANDLE empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool isEmpty(HANDLE h) noexcept { return h == INVALID_HANDLE_VALUE || h == nullptr; }
};
using UniqueFile = Unique<HANDLE, &::CloseHandle, FileHandleIsEmpty>;

// BSTR owner.
using UniqueBstr = Unique<BSTR, &::SysFreeString>;

// VARIANT owner: VariantInit on construction, VariantClear on reset. Not a
// Unique: a VARIANT lives in place and is handed out by address, not by value.
class UniqueVariant {
public:
    UniqueVariant() noexcept { ::VariantInit(&v_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    UniqueVariant(UniqueVariant&& o) noexcept {
        v_ = o.v_;
        ::VariantInit(&o.v_);
    }
    UniqueVariant& operator=(UniqueVariant&& o) noexcept {
        if (this != &o) {
            reset();
            v_ = o.v_;
            ::VariantInit(&o.v_);
        }
        return *this;
    }
    ~UniqueVariant() { reset(); }

    [[nodiscard]] VARIANT* get() noexcept { return &v_; }
    [[nodiscard]] const VARIANT* get() const noexcept { return &v_; }
    [[nodiscard]] VARTYPE type() const noexcept { return v_.vt; }
    // Cleared first, for an out parameter.
    [[nodiscard]] VARIANT* put() noexcept {
        reset();
        return &v_;
    }
    void reset() noexcept {
        ::VariantClear(&v_);
        ::VariantInit(&v_);
    }

private:
    VARIANT v_;
};

using UniqueSafeArray = Unique<SAFEARRAY*, &::SafeArrayDestroy>;

// Reference-counted COM interface pointer. Move-only on purpose: a copy is an
// explicit AddRef through copy().
template <class I>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller already holds.
    static ComPtr attach(I* p) noexcept {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    [[nodiscard]] ComPtr copy() const noexcept {
        if (p_) p_->AddRef();
        return attach(p_);
    }
    [[nodiscard]] I* get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    [[nodiscard]] I** put() noexcept {
        reset();
        return &p_;
    }
    [[nodiscard]] void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (I* old = std::exchange(p_, nullptr)) old->Release();
    }
    [[nodiscard]] I* detach() noexcept { return std::exchange(p_, nullptr); }

    template <class J>
    [[nodiscard]] ComPtr<J> query(REFIID iid) const noexcept {
        ComPtr<J> out;
        if (p_) p_->QueryInterface(iid, out.putVoid());
        return out;
    }

private:
    I* p_ = nullptr;
};

// Enters COM (single-threaded apartment) for the current thread and leaves
// it again only when entering succeeded (S_OK or S_FALSE).
class ComScope {
public:
    ComScope() noexcept : hr_(::CoInitialize(nullptr)) {}
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    [[nodiscard]] HRESULT result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace qx
