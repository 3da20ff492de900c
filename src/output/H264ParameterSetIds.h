// The ids of the H.264 sequence and picture parameter sets a stream uses, so
// that pictures encoded into it can carry sets of their own under ids the
// copied pictures never refer to.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "input/H264PacketForm.h"

namespace kx {

struct ParameterSetIds {
    std::bitset<32> sps;
    std::bitset<256> pps;
};

// Adds the ids of the SPS and PPS units of codec extradata: an avcC record
// (first byte 1) or Annex B data. A damaged record adds what it holds up to
// the damage.
void CollectExtradataParameterSetIds(const uint8_t* data, size_t size, ParameterSetIds* ids);

// Adds the ids of the SPS and PPS units carried in one packet of the given form.
void CollectPacketParameterSetIds(const uint8_t* data, int size, H264PacketForm form, ParameterSetIds* ids);

// The smallest id from 1 to 31 that names neither an SPS nor a PPS in
// `used`; none when every one does.
std::optional<int> FreeParameterSetId(const ParameterSetIds& used);

}  // namespace kx
