// The reference-counted base of every host-visible object.
#pragma once

#include <atomic>
#include <cstdint>

#include "KX_Remuxion.h"

namespace scombase {

// Same slot layout as IUnknown; the object's own identity.
struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown {
public:
    CUnknown();
    virtual ~CUnknown();
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    INonDelegatingUnknown* GetOwner() const { return owner_; }

protected:
    // Hands out an interface pointer with one reference taken through it.
    HRESULT GetInterface(void* itf, void** ppv);

private:
    INonDelegatingUnknown* owner_;
    std::atomic<int32_t> refCount_;
};

// False when a is null.
bool IsEqualGuid(REFIID a, const GUID& b);

}  // namespace scombase

// Interface IUnknown slots of a class derived from CUnknown forward here.
#define KX_DECLARE_IUNKNOWN                                                                                 \
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return GetOwner()->NonDelegatingQueryInterface(riid, ppv); } \
    ULONG AddRef() override { return GetOwner()->NonDelegatingAddRef(); }                                  \
    ULONG Release() override { return GetOwner()->NonDelegatingRelease(); }
