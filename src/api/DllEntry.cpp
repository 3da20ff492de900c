// The exported class entry point and the factory table's one row.
#include <new>

#include "api/CFactory.h"

namespace scombase {
CUnknown* CreateStreamwright(IUnknown* outer, HRESULT* status);

namespace {
const FactoryTemplate g_templates[] = {
    {u"Create LossLessCopy", &CLSID_Streamwright, &CreateStreamwright},
};
}

const FactoryTemplate* FactoryTemplates(int* count) {
    *count = static_cast<int>(sizeof g_templates / sizeof g_templates[0]);
    return g_templates;
}

}  // namespace scombase

extern "C" KX_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    using namespace scombase;
    if (!IsEqualGuid(riid, IID_IUnknown) && !IsEqualGuid(riid, IID_IClassFactory)) return KX_E_NOINTERFACE;
    if (!ppv) return KX_E_POINTER;
    int count = 0;
    const FactoryTemplate* rows = FactoryTemplates(&count);
    for (int i = 0; i < count; ++i) {
        if (!IsEqualGuid(clsid, *rows[i].clsid)) continue;
        auto* factory = new (std::nothrow) CFactory(&rows[i]);
        if (!factory) {
            *ppv = nullptr;
            return KX_E_OUTOFMEMORY;
        }
        *ppv = static_cast<IClassFactory*>(factory);
        return KX_S_OK;
    }
    return KX_CLASS_E_CLASSNOTAVAILABLE;
}
