// IsH264KeyFrame on arbitrary packet bytes: stays inside the buffer, answers
// the same for the same bytes, and knows an IDR slice right after a start code.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "demux/H264KeyFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const int length = static_cast<int>(size);
    const bool key = kx::IsH264KeyFrame(data, length);
    KX_FUZZ_CHECK(kx::IsH264KeyFrame(data, length) == key);

    // Every shorter prefix too: the end of the buffer moves.
    if (size > 0) kx::IsH264KeyFrame(data, length - 1);

    // A first unit that is an IDR slice makes a key frame in either form.
    if (size >= 5 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1 && (data[4] & 0x1F) == 5)
        KX_FUZZ_CHECK(key);
    if (size >= 5 && (data[0] & 0x1F) == 5 && (data[0] & 0x80) == 0) {
        // The same unit behind a length prefix (the MP4 form).
        std::vector<uint8_t> prefixed(size + 4);
        const uint32_t n = static_cast<uint32_t>(size);
        prefixed[0] = static_cast<uint8_t>(n >> 24);
        prefixed[1] = static_cast<uint8_t>(n >> 16);
        prefixed[2] = static_cast<uint8_t>(n >> 8);
        prefixed[3] = static_cast<uint8_t>(n);
        std::memcpy(prefixed.data() + 4, data, size);
        KX_FUZZ_CHECK(kx::IsH264KeyFrame(prefixed.data(), static_cast<int>(prefixed.size())));
    }
    return 0;
}
