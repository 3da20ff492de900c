// BSTR: a 32-bit byte count, then the UTF-16 characters and a terminator.
// The pointer handed out points at the characters, as on Windows.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KX_Remuxion.h"
#include "platform/WideString.h"

namespace {

BSTR AllocLen(const OLECHAR* text, uint32_t length) {
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + (size_t(length) + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    uint32_t bytes = length * sizeof(OLECHAR);
    std::memcpy(block, &bytes, sizeof bytes);
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
    if (text && length) std::memcpy(chars, text, length * sizeof(OLECHAR));
    chars[length] = 0;
    return chars;
}

}  // namespace

extern "C" {

KX_EXPORT BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return AllocLen(text, static_cast<uint32_t>(kx::WideLength(text)));
}

KX_EXPORT void SysFreeString(BSTR text) {
    if (!text) return;
    std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
}

KX_EXPORT uint32_t SysStringLen(BSTR text) {
    if (!text) return 0;
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

}  // extern "C"
