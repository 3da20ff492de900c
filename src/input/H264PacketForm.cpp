#include "input/H264PacketForm.h"

extern "C" {
#include <libavcodec/codec_par.h>
}

namespace kx {

namespace {
constexpr uint8_t kAvcCVersion = 1;       // first byte of an avcC record
constexpr size_t kLengthSizeByte = 4;     // holds lengthSizeMinusOne
constexpr uint8_t kLengthSizeMask = 0x03;
}  // namespace

H264PacketForm H264FormOfExtradata(const uint8_t* extradata, size_t size) {
    if (!extradata || size <= kLengthSizeByte || extradata[0] != kAvcCVersion) return kAnnexBForm;
    return LengthPrefixedForm((extradata[kLengthSizeByte] & kLengthSizeMask) + 1);
}

H264PacketForm H264FormOfStream(const AVCodecParameters* parameters) {
    if (!parameters || parameters->extradata_size <= 0) return kAnnexBForm;
    return H264FormOfExtradata(parameters->extradata, static_cast<size_t>(parameters->extradata_size));
}

}  // namespace kx
