#pragma once
// Reference counting and QueryInterface for an object of our own that
// implements one COM interface, Interface, whose id is Iid. The object starts
// with one reference, held by whoever made it (ComPtr::attach), and deletes
// itself when the last goes. The count is atomic: the platform may call from
// a thread of its own.

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace qx {

template <class Interface, const IID& Iid>
class ComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == Iid) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    // The references held now.
    [[nodiscard]] ULONG references() const noexcept { return refs_.load(); }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace qx
