#include "input/HevcKeyFrame.h"

#include "input/NalUnitWalk.h"

namespace kx {

namespace {

constexpr int kHeaderBytes = 2;
constexpr uint8_t kForbiddenBit = 0x80;
constexpr int kLastNonIrapSliceType = 9;  // TRAIL_N .. RASL_R
constexpr int kFirstIrapType = 16;        // BLA_W_LP
constexpr int kLastIrapType = 23;         // the last reserved IRAP type

// Units that are not well formed, of another layer or of a reserved type
// tell nothing; a slice of the base layer tells whether its picture is IRAP.
NalAnswer ClassifyUnit(const uint8_t* nal, int available) {
    if (available < kHeaderBytes || (nal[0] & kForbiddenBit)) return NalAnswer::Nothing;
    const int type = (nal[0] >> 1) & 0x3F;
    const int layer = ((nal[0] & 1) << 5) | (nal[1] >> 3);
    const int temporalIdPlus1 = nal[1] & 0x07;
    if (layer != 0 || temporalIdPlus1 == 0) return NalAnswer::Nothing;
    if (type <= kLastNonIrapSliceType) return NalAnswer::NotKey;
    if (type >= kFirstIrapType && type <= kLastIrapType) return NalAnswer::Key;
    return NalAnswer::Nothing;
}

constexpr size_t kHvcCLengthSizeByte = 21;
constexpr uint8_t kLengthSizeMask = 0x03;

bool BeginsWithStartCode(const uint8_t* d, size_t size) {
    if (size >= 3 && d[0] == 0 && d[1] == 0 && d[2] == 1) return true;
    return size >= 4 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 1;
}

}  // namespace

bool IsHevcKeyFrame(const uint8_t* data, int size, H264PacketForm form) {
    const auto classify = [](const uint8_t* nal, int available) { return ClassifyUnit(nal, available); };
    return FirstNalAnswer(data, size, form, classify) == NalAnswer::Key;
}

HevcPictureKind HevcPictureKindOf(const uint8_t* data, int size, H264PacketForm form) {
    constexpr int kRadlN = 6, kRadlR = 7, kRaslN = 8, kRaslR = 9, kIdrWRadl = 19, kIdrNLp = 20, kCra = 21;
    int type = -1;
    FirstNalAnswer(data, size, form, [&type](const uint8_t* nal, int available) {
        const NalAnswer answer = ClassifyUnit(nal, available);
        if (answer != NalAnswer::Nothing) type = (nal[0] >> 1) & 0x3F;
        return answer;
    });
    if (type < 0) return HevcPictureKind::kUnknown;
    if (type == kIdrWRadl || type == kIdrNLp) return HevcPictureKind::kIdr;
    if (type == kCra) return HevcPictureKind::kCra;
    if (type >= kFirstIrapType) return HevcPictureKind::kOtherIrap;
    if (type == kRaslN || type == kRaslR) return HevcPictureKind::kRasl;
    if (type == kRadlN || type == kRadlR) return HevcPictureKind::kRadl;
    return HevcPictureKind::kTrailing;
}

H264PacketForm HevcFormOfExtradata(const uint8_t* extradata, size_t size) {
    if (!extradata || size <= kHvcCLengthSizeByte || BeginsWithStartCode(extradata, size)) return kAnnexBForm;
    return LengthPrefixedForm((extradata[kHvcCLengthSizeByte] & kLengthSizeMask) + 1);
}

}  // namespace kx
