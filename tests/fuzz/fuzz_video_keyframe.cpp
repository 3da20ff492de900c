// The HEVC, AV1 and VP9 key-frame tests on arbitrary bytes. The first byte
// picks the codec and the packet form, the rest is the packet, and is also
// read as extradata. Every reading stays inside the buffer and answers the
// same for the same bytes; and whatever the bytes, wrapped so that they are
// payload, they cannot make a key frame of a packet that is none, nor spoil
// one that is.
#include <initializer_list>
#include <vector>

#include "FuzzSupport.h"
#include "input/Av1KeyFrame.h"
#include "input/HevcKeyFrame.h"
#include "input/Vp9KeyFrame.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Codec { Hevc, Av1, Vp9 };
constexpr int kCodecs = 3;

const kx::H264PacketForm kHevcForms[] = {kx::kAnnexBForm, kx::LengthPrefixedForm(1), kx::LengthPrefixedForm(2),
                                         kx::LengthPrefixedForm(4)};

Bytes Joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A big-endian prefix of `lengthSize` bytes; empty when `size` does not fit.
Bytes Prefix(size_t size, int lengthSize) {
    if (lengthSize < 4 && size >> (8 * lengthSize) != 0) return {};
    Bytes out(lengthSize);
    for (int k = 0; k < lengthSize; ++k) out[k] = static_cast<uint8_t>(size >> (8 * (lengthSize - 1 - k)));
    return out;
}

void Hevc(const Bytes& payload, int choice) {
    const auto form = kHevcForms[choice % 4];
    const bool key = kx::IsHevcKeyFrame(payload.data(), static_cast<int>(payload.size()), form);
    KX_FUZZ_CHECK(kx::IsHevcKeyFrame(payload.data(), static_cast<int>(payload.size()), form) == key);
    if (!payload.empty()) kx::IsHevcKeyFrame(payload.data(), static_cast<int>(payload.size()) - 1, form);

    const Bytes sei = Joined({{0x4E, 0x01}, payload});  // prefix SEI, base layer
    const Bytes cra = Joined({{0x2A, 0x01}, payload});
    if (form.framing == kx::H264Framing::AnnexB) {
        const Bytes packet = Joined({{0, 0, 0, 1}, cra});
        KX_FUZZ_CHECK(kx::IsHevcKeyFrame(packet.data(), static_cast<int>(packet.size()), form));
        return;
    }
    // Start codes inside a unit are payload: an SEI holding any bytes tells nothing.
    const Bytes seiPrefix = Prefix(sei.size(), form.lengthSize);
    if (seiPrefix.empty()) return;
    const Bytes notKey = Joined({seiPrefix, sei});
    KX_FUZZ_CHECK(!kx::IsHevcKeyFrame(notKey.data(), static_cast<int>(notKey.size()), form));
    const Bytes key2 = Joined({seiPrefix, sei, Prefix(cra.size(), form.lengthSize), cra});
    KX_FUZZ_CHECK(kx::IsHevcKeyFrame(key2.data(), static_cast<int>(key2.size()), form));
}

// leb128 of `value`.
Bytes Leb128(size_t value) {
    Bytes out;
    do {
        const uint8_t low = value & 0x7F;
        value >>= 7;
        out.push_back(static_cast<uint8_t>(low | (value ? 0x80 : 0)));
    } while (value);
    return out;
}

void Av1(const Bytes& payload, int choice) {
    const bool still = choice & 1;
    const bool key = kx::IsAv1KeyFrame(payload.data(), static_cast<int>(payload.size()), still);
    KX_FUZZ_CHECK(kx::IsAv1KeyFrame(payload.data(), static_cast<int>(payload.size()), still) == key);
    if (!payload.empty()) kx::IsAv1KeyFrame(payload.data(), static_cast<int>(payload.size()) - 1, still);

    // The bytes as a padding OBU, then a frame: the frame decides.
    const Bytes padding = Joined({{0x7A}, Leb128(payload.size()), payload});
    const Bytes shownKey = Joined({padding, {0x32, 0x02, 0x10, 0x00}});
    KX_FUZZ_CHECK(kx::IsAv1KeyFrame(shownKey.data(), static_cast<int>(shownKey.size()), still));
    const Bytes inter = Joined({padding, {0x32, 0x02, 0x30, 0x00}});
    KX_FUZZ_CHECK(kx::IsAv1KeyFrame(inter.data(), static_cast<int>(inter.size()), still) == still);
    // Whatever follows the first frame header does not count.
    const Bytes keyFirst = Joined({{0x32, 0x01, 0x10}, payload});
    KX_FUZZ_CHECK(kx::IsAv1KeyFrame(keyFirst.data(), static_cast<int>(keyFirst.size()), still));
}

// Two frames and an index with 4-byte sizes.
Bytes Superframe(const Bytes& first, const Bytes& second) {
    const uint8_t marker = 0xC0 | (3 << 3) | 1;
    Bytes index = {marker};
    for (const Bytes* frame : {&first, &second})
        for (int k = 0; k < 4; ++k) index.push_back(static_cast<uint8_t>(frame->size() >> (8 * k)));
    index.push_back(marker);
    return Joined({first, second, index});
}

void Vp9(const Bytes& payload) {
    const bool key = kx::IsVp9KeyFrame(payload.data(), static_cast<int>(payload.size()));
    KX_FUZZ_CHECK(kx::IsVp9KeyFrame(payload.data(), static_cast<int>(payload.size())) == key);
    if (!payload.empty()) kx::IsVp9KeyFrame(payload.data(), static_cast<int>(payload.size()) - 1);

    const Bytes keyFrame = Joined({{0x82, 0x49, 0x83, 0x42}, payload});
    const Bytes interFrame = Joined({{0x86}, payload});
    const Bytes keyFirst = Superframe(keyFrame, payload);
    KX_FUZZ_CHECK(kx::IsVp9KeyFrame(keyFirst.data(), static_cast<int>(keyFirst.size())));
    const Bytes interFirst = Superframe(interFrame, keyFrame);
    KX_FUZZ_CHECK(!kx::IsVp9KeyFrame(interFirst.data(), static_cast<int>(interFirst.size())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    const Bytes payload(data + 1, data + size);
    const int choice = data[0] / kCodecs;
    switch (static_cast<Codec>(data[0] % kCodecs)) {
        case Codec::Hevc:
            Hevc(payload, choice);
            break;
        case Codec::Av1:
            Av1(payload, choice);
            break;
        case Codec::Vp9:
            Vp9(payload);
            break;
    }
    // The same bytes as a stream's extradata.
    const auto form = kx::HevcFormOfExtradata(payload.data(), payload.size());
    KX_FUZZ_CHECK(form.framing == kx::H264Framing::AnnexB || (form.lengthSize >= 1 && form.lengthSize <= 4));
    kx::Av1StillPicturesOfExtradata(payload.data(), payload.size());
    return 0;
}
