// Walks the NAL units of one H.264 or HEVC packet in the packet's own form
// until a unit tells something: Annex B by its start codes, length-prefixed
// data along its prefixes, never searched for start codes.
#pragma once

#include <cstdint>

#include "input/H264PacketForm.h"
#include "input/StartCodeSearch.h"

namespace kx {

// What one NAL unit says about its picture.
enum class NalAnswer { Nothing, Key, NotKey };

namespace nalwalk {

constexpr int kMinAnnexBPacket = 4;  // a start code and a header at the least
constexpr int kMaxLengthSize = 4;

template <typename Classify>
NalAnswer ScanStartCodes(const uint8_t* d, int size, const Classify& classify) {
    for (int nal = NextNalUnit(d, size, 0); nal >= 0; nal = NextNalUnit(d, size, nal)) {
        const NalAnswer answer = classify(d + nal, size - nal);
        if (answer != NalAnswer::Nothing) return answer;
    }
    return NalAnswer::Nothing;
}

// A unit whose length runs past the end is read as far as it goes and ends
// the walk.
template <typename Classify>
NalAnswer WalkLengthPrefixes(const uint8_t* d, int size, int lengthSize, const Classify& classify) {
    for (int pos = 0; pos + lengthSize < size;) {
        uint32_t length = 0;
        for (int k = 0; k < lengthSize; ++k) length = (length << 8) | d[pos + k];
        pos += lengthSize;
        const int left = size - pos;
        const bool truncated = length > static_cast<uint32_t>(left);
        const int available = truncated ? left : static_cast<int>(length);
        if (available > 0) {
            const NalAnswer answer = classify(d + pos, available);
            if (answer != NalAnswer::Nothing) return answer;
        }
        if (truncated) break;
        pos += available;
    }
    return NalAnswer::Nothing;
}

}  // namespace nalwalk

// The first answer other than Nothing that `classify(unit, available)` gives
// for the units in order; Nothing for a missing packet or a form that is none.
template <typename Classify>
NalAnswer FirstNalAnswer(const uint8_t* data, int size, H264PacketForm form, const Classify& classify) {
    if (!data || size <= 0) return NalAnswer::Nothing;
    if (form.framing == H264Framing::LengthPrefixed) {
        if (form.lengthSize < 1 || form.lengthSize > nalwalk::kMaxLengthSize) return NalAnswer::Nothing;
        return nalwalk::WalkLengthPrefixes(data, size, form.lengthSize, classify);
    }
    if (size < nalwalk::kMinAnnexBPacket) return NalAnswer::Nothing;
    return nalwalk::ScanStartCodes(data, size, classify);
}

}  // namespace kx
