// The class factory and its one-row template table.
#pragma once

#include <atomic>

#include "KX_Remuxion.h"
#include "api/CUnknown.h"

namespace scombase {

using CreateFunction = CUnknown* (*)(IUnknown* outer, HRESULT* status);

struct FactoryTemplate {
    const char16_t* name;
    const CLSID* clsid;
    CreateFunction create;
};

// The rows of the factory table, searched in order.
const FactoryTemplate* FactoryTemplates(int* count);

class CFactory final : public IClassFactory {
public:
    explicit CFactory(const FactoryTemplate* row) : refCount_(1), row_(row) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL lock) override;

private:
    std::atomic<int32_t> refCount_;
    const FactoryTemplate* row_;
};

// Process-wide count changed only by LockServer.
int32_t ServerLockCount();

}  // namespace scombase
