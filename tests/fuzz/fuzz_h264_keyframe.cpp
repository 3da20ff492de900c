// IsH264KeyFrame on arbitrary packet bytes, read in every form: stays inside
// the buffer, answers the same for the same bytes, answers in Annex B form as
// a plain byte-by-byte walk of the start codes does (the vector search must
// not miss one at a block seam or near an end), and in length-prefixed form
// answers by the first slice put in, whatever start codes the units hold.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "input/H264KeyFrame.h"

namespace {

constexpr uint8_t kNalTypeMask = 0x1F;
constexpr uint8_t kForbiddenBit = 0x80;
constexpr uint8_t kIdrType = 5;
constexpr uint8_t kSeiHeader = 0x06;
const std::vector<uint8_t> kIdrUnit = {0x65, 0x88};
const std::vector<uint8_t> kPSliceUnit = {0x41, 0x9B};  // first_mb_in_slice 0, slice_type 5

const kx::H264PacketForm kForms[] = {kx::kAnnexBForm, kx::LengthPrefixedForm(1), kx::LengthPrefixedForm(2),
                                     kx::LengthPrefixedForm(4)};

enum class Answer { kNothing, kKey, kNotKey };

// What one unit says: an IDR slice is key; a non-IDR slice by the slice_type
// that follows a first_mb_in_slice within its second byte.
Answer ReferenceUnit(const uint8_t* nal, int available) {
    const int type = nal[0] & kNalTypeMask;
    if (type == kIdrType) return Answer::kKey;
    if (type != 1 || available < 2) return Answer::kNothing;
    const uint8_t b = nal[1];
    int bit = 7;
    while (bit >= 0 && !(b & (1 << bit))) --bit;
    int zeros = 0;
    for (--bit; bit >= 0 && !(b & (1 << bit)); --bit) ++zeros;
    if (bit < 0 || bit - zeros < 0) return Answer::kNothing;
    unsigned value = 0;
    for (int k = 0; k <= zeros; ++k, --bit) value = (value << 1) | ((b >> bit) & 1u);
    const int sliceType = static_cast<int>(value) - 1;
    if (sliceType == 2 || sliceType == 7) return Answer::kKey;
    return (sliceType == 0 || sliceType == 5 || sliceType == 1 || sliceType == 6) ? Answer::kNotKey : Answer::kNothing;
}

// Start codes that begin at or before size - 5, one byte at a time.
bool ReferenceAnnexB(const uint8_t* d, int size) {
    if (size < 4) return false;
    for (int pos = 0; pos <= size - 5;) {
        int nal = -1;
        if (d[pos] == 0 && d[pos + 1] == 0 && d[pos + 2] == 0 && d[pos + 3] == 1)
            nal = pos + 4;
        else if (d[pos] == 0 && d[pos + 1] == 0 && d[pos + 2] == 1)
            nal = pos + 3;
        if (nal < 0) {
            ++pos;
            continue;
        }
        if (const Answer answer = ReferenceUnit(d + nal, size - nal); answer != Answer::kNothing)
            return answer == Answer::kKey;
        pos = nal;
    }
    return false;
}

// `unit` appended behind a big-endian prefix of `lengthSize` bytes; false when
// its size does not fit the prefix.
bool AppendPrefixed(std::vector<uint8_t>& out, const uint8_t* unit, size_t size, int lengthSize) {
    if (lengthSize < 4 && size >> (8 * lengthSize) != 0) return false;
    for (int k = lengthSize - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(size >> (8 * k)));
    out.insert(out.end(), unit, unit + size);
    return true;
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
    KX_FUZZ_CHECK(kx::IsH264KeyFrame(data, length, kx::kAnnexBForm) == ReferenceAnnexB(data, length));

    std::vector<uint8_t> sei(size + 1);
    sei[0] = kSeiHeader;
    if (size > 0) std::memcpy(sei.data() + 1, data, size);
    for (int lengthSize : {1, 2, 4}) {
        const auto form = kx::LengthPrefixedForm(lengthSize);
        std::vector<uint8_t> packet;
        // The bytes as one IDR unit behind a prefix: key, whatever follows.
        if (size >= 1 && (data[0] & kNalTypeMask) == kIdrType && (data[0] & kForbiddenBit) == 0 &&
            AppendPrefixed(packet, data, size, lengthSize))
            KX_FUZZ_CHECK(Key(packet, form));
        // The bytes inside an SEI unit are payload: the slice after it decides.
        packet.clear();
        if (!AppendPrefixed(packet, sei.data(), sei.size(), lengthSize)) continue;
        KX_FUZZ_CHECK(!Key(packet, form));
        std::vector<uint8_t> withP = packet;
        AppendPrefixed(withP, kPSliceUnit.data(), kPSliceUnit.size(), lengthSize);
        KX_FUZZ_CHECK(!Key(withP, form));
        AppendPrefixed(packet, kIdrUnit.data(), kIdrUnit.size(), lengthSize);
        KX_FUZZ_CHECK(Key(packet, form));
    }
    return 0;
}
