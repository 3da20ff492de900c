#include "api/CUnknown.h"

#include <cstring>

namespace scombase {

bool IsEqualGuid(REFIID a, const GUID& b) { return a && std::memcmp(a, &b, sizeof(GUID)) == 0; }

CUnknown::CUnknown() : owner_(this), refCount_(0) {}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::GetInterface(void* itf, void** ppv) {
    *ppv = itf;
    NonDelegatingAddRef();
    return KX_S_OK;
}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return KX_E_POINTER;
    if (IsEqualGuid(riid, IID_IUnknown)) return GetInterface(static_cast<INonDelegatingUnknown*>(this), ppv);
    *ppv = nullptr;
    return KX_E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() {
    uint32_t count = static_cast<uint32_t>(refCount_.fetch_add(1) + 1);
    return count > 1u ? count : 1u;
}

ULONG CUnknown::NonDelegatingRelease() {
    int32_t result = refCount_.fetch_sub(1) - 1;
    if (result == 0) {
        delete this;
        return 0;
    }
    uint32_t count = static_cast<uint32_t>(result);
    return count > 1u ? count : 1u;
}

}  // namespace scombase
