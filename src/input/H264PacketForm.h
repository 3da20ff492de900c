// How the NAL units of an H.264 stream's packets are delimited: start codes
// (Annex B: transport and program streams, raw files) or big-endian length
// prefixes of 1, 2 or 4 bytes (MP4, MKV, FLV), as the stream's extradata
// tells. Packet bytes are read in their own form only: in length-prefixed
// data a prefix such as 00 00 01 C5 is a length, not a start code.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVCodecParameters;

namespace kx {

enum class H264Framing { AnnexB, LengthPrefixed };

struct H264PacketForm {
    H264Framing framing = H264Framing::AnnexB;
    int lengthSize = 0;  // bytes of each length prefix; 0 for Annex B
};

constexpr H264PacketForm kAnnexBForm{};
constexpr H264PacketForm LengthPrefixedForm(int lengthSize) { return {H264Framing::LengthPrefixed, lengthSize}; }

// An avcC record (first byte 1) gives length prefixes of
// lengthSizeMinusOne + 1 bytes (low 2 bits of byte 4); anything else,
// missing extradata included, means start codes.
H264PacketForm H264FormOfExtradata(const uint8_t* extradata, size_t size);

// The same from a stream's codec parameters; Annex B without them.
H264PacketForm H264FormOfStream(const AVCodecParameters* parameters);

}  // namespace kx
