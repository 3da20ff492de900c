// IsH264KeyFrame on arbitrary packet bytes, read in every form: stays inside
// the buffer, answers the same for the same bytes, knows an IDR slice as the
// first unit in either form, and never takes start codes inside a
// length-prefixed unit for units of their own.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "input/H264KeyFrame.h"

namespace {

constexpr uint8_t kNalTypeMask = 0x1F;
constexpr uint8_t kForbiddenBit = 0x80;
constexpr uint8_t kIdrType = 5;
constexpr uint8_t kSeiHeader = 0x06;

const kx::H264PacketForm kForms[] = {kx::kAnnexBForm, kx::LengthPrefixedForm(1), kx::LengthPrefixedForm(2),
                                     kx::LengthPrefixedForm(4)};

// `unit` behind a big-endian prefix of `lengthSize` bytes; empty when its
// size does not fit the prefix.
std::vector<uint8_t> Prefixed(const uint8_t* unit, size_t size, int lengthSize) {
    if (lengthSize < 4 && size >> (8 * lengthSize) != 0) return {};
    std::vector<uint8_t> out(lengthSize + size);
    for (int k = 0; k < lengthSize; ++k) out[k] = static_cast<uint8_t>(size >> (8 * (lengthSize - 1 - k)));
    if (size > 0) std::memcpy(out.data() + lengthSize, unit, size);
    return out;
}

bool Key(const std::vector<uint8_t>& b, kx::H264PacketForm form) {
    return kx::IsH264KeyFrame(b.data(), static_cast<int>(b.size()), form);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const int length = static_cast<int>(size);
    for (const auto form : kForms) {
        const bool key = kx::IsH264KeyFrame(data, length, form);
        KX_FUZZ_CHECK(kx::IsH264KeyFrame(data, length, form) == key);
        // The end of the buffer moves.
        if (size > 0) kx::IsH264KeyFrame(data, length - 1, form);
    }

    // An IDR slice right after a start code.
    if (size >= 5 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1 && (data[4] & kNalTypeMask) == kIdrType)
        KX_FUZZ_CHECK(kx::IsH264KeyFrame(data, length, kx::kAnnexBForm));

    std::vector<uint8_t> sei(size + 1);
    sei[0] = kSeiHeader;
    if (size > 0) std::memcpy(sei.data() + 1, data, size);
    for (int lengthSize : {1, 2, 4}) {
        const auto form = kx::LengthPrefixedForm(lengthSize);
        // The bytes as one IDR unit behind a prefix: key, whatever follows.
        if (size >= 1 && (data[0] & kNalTypeMask) == kIdrType && (data[0] & kForbiddenBit) == 0) {
            const auto unit = Prefixed(data, size, lengthSize);
            if (!unit.empty()) KX_FUZZ_CHECK(Key(unit, form));
        }
        // The bytes inside one SEI unit: start codes in there are payload,
        // so the packet holds no slice and is no key frame.
        const auto unit = Prefixed(sei.data(), sei.size(), lengthSize);
        if (!unit.empty()) KX_FUZZ_CHECK(!Key(unit, form));
    }
    return 0;
}
