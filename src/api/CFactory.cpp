#include "api/CFactory.h"

#include <new>

namespace scombase {

namespace {
std::atomic<int32_t> g_serverLockCount{0};
}

int32_t ServerLockCount() { return g_serverLockCount.load(); }

HRESULT CFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return KX_E_POINTER;
    if (IsEqualGuid(riid, IID_IUnknown) || IsEqualGuid(riid, IID_IClassFactory)) {
        AddRef();
        *ppv = static_cast<IClassFactory*>(this);
        return KX_S_OK;
    }
    *ppv = nullptr;
    return KX_E_NOINTERFACE;
}

ULONG CFactory::AddRef() { return static_cast<ULONG>(refCount_.fetch_add(1) + 1); }

ULONG CFactory::Release() {
    int32_t count = refCount_.fetch_sub(1) - 1;
    if (count == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

HRESULT CFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer && !IsEqualGuid(riid, IID_IUnknown)) return KX_CLASS_E_NOAGGREGATION;
    if (!ppv) return KX_E_POINTER;
    HRESULT status = KX_S_OK;
    CUnknown* object = row_->create(outer, &status);
    if (status < 0) return status;
    if (!object) {
        *ppv = nullptr;
        return KX_E_OUTOFMEMORY;
    }
    HRESULT hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

HRESULT CFactory::LockServer(BOOL lock) {
    if (lock)
        g_serverLockCount.fetch_add(1);
    else
        g_serverLockCount.fetch_sub(1);
    return KX_S_OK;
}

}  // namespace scombase
