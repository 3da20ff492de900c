// LengthPrefixesToStartCodes on arbitrary payloads, checked against a plain
// walk of the four-byte prefixes: every prefix becomes 00 00 00 01, a tail too
// short for a prefix becomes zeros, every other byte stays. IsLengthPrefixChain
// must say yes exactly when the prefixes chain to the end of the payload.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "output/H264BitstreamForms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> payload(data, data + size);
    const bool ok = kx::LengthPrefixesToStartCodes(payload.data(), payload.size());
    if (size < 4) {
        KX_FUZZ_CHECK(ok && (size == 0 || std::memcmp(payload.data(), data, size) == 0));
        return 0;
    }

    std::vector<uint8_t> expected(data, data + size);
    bool expectedOk = true;
    bool chain = size >= 5;  // the units end exactly at the end
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < 4) {
            std::memset(expected.data() + pos, 0, size - pos);
            chain = false;
            break;
        }
        const uint32_t length = (uint32_t{data[pos]} << 24) | (uint32_t{data[pos + 1]} << 16) |
                                (uint32_t{data[pos + 2]} << 8) | data[pos + 3];
        if (length < 1 || length > 0x7FFFFFFF) {
            expectedOk = false;
            chain = false;
            break;
        }
        expected[pos] = 0;
        expected[pos + 1] = 0;
        expected[pos + 2] = 0;
        expected[pos + 3] = 1;
        if (length >= size - pos - 4) {  // the last unit takes the rest
            if (length > size - pos - 4) chain = false;
            break;
        }
        pos += 4 + length;
    }
    KX_FUZZ_CHECK(ok == expectedOk);
    KX_FUZZ_CHECK(kx::IsLengthPrefixChain(data, size) == chain);
    if (chain) KX_FUZZ_CHECK(ok);
    // After a refusal the bytes already rewritten are unspecified.
    if (ok) KX_FUZZ_CHECK(payload == expected);

    // The other direction on the same bytes must stay inside the buffer too.
    std::vector<uint8_t> prefixed = kx::StartCodesToLengthPrefixes(data, size);
    KX_FUZZ_CHECK(prefixed.size() <= size + 4 * (size / 3 + 1));
    return 0;
}
