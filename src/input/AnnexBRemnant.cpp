#include "input/AnnexBRemnant.h"

namespace kx {

size_t AnnexBRemnantLength(const uint8_t* data, size_t size) {
    if (!data) return 0;
    for (size_t i = 0; i + 2 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        // A zero before 00 00 01 belongs to a four-byte start code.
        return i > 0 && data[i - 1] == 0 ? i - 1 : i;
    }
    return 0;
}

}  // namespace kx
