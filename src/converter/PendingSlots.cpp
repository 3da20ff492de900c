// Slots whose subsystems are not in yet: they answer as for an unknown file.
#include "converter/CStreamwright.h"

namespace kx {

ILossCopyMediaInfo* CStreamwright::GetFileMediaInfo(int64_t) { return nullptr; }
HRESULT CStreamwright::GetStream(int64_t, int32_t, int32_t, IMediaStreamEx**) { return KX_S_FALSE; }

}  // namespace kx
