// KX_SetInputOptions: what a host allows its converter's inputs to be.
#include "KX_Remuxion.h"
#include "api/CStreamwright.h"

extern "C" KX_EXPORT HRESULT KX_SetInputOptions(IStreamwright* converter, uint32_t options) {
    kx::CStreamwright* object = kx::ConverterOf(converter);
    if (!object) return KX_E_POINTER;
    if (options & ~static_cast<uint32_t>(KX_INPUT_ALLOW_LINKED_FILES | KX_INPUT_STORED_RATES_ONLY))
        return KX_E_INVALIDARG;
    kx::InputPolicy policy;
    policy.linkedFiles = (options & KX_INPUT_ALLOW_LINKED_FILES) ? kx::LinkedFiles::kAllow : kx::LinkedFiles::kRefuse;
    policy.rates =
        (options & KX_INPUT_STORED_RATES_ONLY) ? kx::RateCount::kStoredOnly : kx::RateCount::kCountWhereMissing;
    return object->SetInputPolicy(policy);
}
