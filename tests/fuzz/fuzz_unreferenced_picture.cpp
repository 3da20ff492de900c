// The non-reference tests on arbitrary packet bytes, read in every form: stay
// inside the buffer, answer the same for the same bytes, and never let a
// packet with a parameter set in front be skipped.
#include <vector>

#include "FuzzSupport.h"
#include "media/UnreferencedPicture.h"

namespace {

const kx::H264PacketForm kForms[] = {kx::kAnnexBForm, kx::LengthPrefixedForm(1), kx::LengthPrefixedForm(2),
                                     kx::LengthPrefixedForm(4)};
const std::vector<uint8_t> kH264Sps = {0, 0, 0, 4, 0x67, 0x64, 0x00, 0x28};
const std::vector<uint8_t> kHevcVps = {0, 0, 0, 4, 0x40, 0x01, 0x0C, 0x01};

bool H264(const std::vector<uint8_t>& b, kx::H264PacketForm form) {
    return kx::IsUnreferencedH264Picture(b.data(), static_cast<int>(b.size()), form);
}
bool Hevc(const std::vector<uint8_t>& b, kx::H264PacketForm form, int highest) {
    return kx::IsUnreferencedHevcPicture(b.data(), static_cast<int>(b.size()), form, highest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::vector<uint8_t> bytes(data, data + size);
    const int highest = size > 0 ? data[0] & 0x07 : 0;
    for (const auto form : kForms) {
        KX_FUZZ_CHECK(H264(bytes, form) == H264(bytes, form));
        KX_FUZZ_CHECK(Hevc(bytes, form, highest) == Hevc(bytes, form, highest));
    }
    const auto four = kx::LengthPrefixedForm(4);
    std::vector<uint8_t> h264 = kH264Sps;
    h264.insert(h264.end(), bytes.begin(), bytes.end());
    KX_FUZZ_CHECK(!H264(h264, four));
    std::vector<uint8_t> hevc = kHevcVps;
    hevc.insert(hevc.end(), bytes.begin(), bytes.end());
    KX_FUZZ_CHECK(!Hevc(hevc, four, highest));
    const auto sublayers = kx::HevcHighestTemporalId(data, size);
    KX_FUZZ_CHECK(!sublayers || (*sublayers >= 0 && *sublayers <= 7));
    KX_FUZZ_CHECK(kx::HevcHighestTemporalId(data, size) == sublayers);
    return 0;
}
