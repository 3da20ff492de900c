// Methods of the interface that answer an id or a count answer a failure in
// the same signed 64-bit value: AddFile -1 for a file it could not open, and
// a status sign-extended where the interface names one (E_POINTER for a
// null path, E_INVALIDARG for the clip count of an unknown file).
#pragma once

#include <cstdint>

#include "KX_Remuxion.h"

namespace kx {

constexpr int64_t kNoFileId = -1;

constexpr int64_t StatusInPlaceOfValue(HRESULT status) { return static_cast<int64_t>(status); }

}  // namespace kx
