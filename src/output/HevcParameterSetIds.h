// The ids of an HEVC stream's parameter sets, and pictures renumbered to
// other ids: the encoder names its VPS, SPS and PPS 0, as the sources it
// stands in for mostly do, so its sets and slices are renumbered to ids the
// source leaves free and both sets can sit in one stream description.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "input/H264PacketForm.h"

namespace kx {

struct HevcParameterSetIds {
    std::bitset<16> vps;
    std::bitset<16> sps;
    std::bitset<64> pps;
};

// Adds the ids of the VPS, SPS and PPS of codec extradata: an hvcC record or
// Annex B data. A damaged record adds what it holds up to the damage.
void CollectHevcExtradataIds(const uint8_t* data, size_t size, HevcParameterSetIds* ids);

// Adds the ids of the VPS, SPS and PPS units carried in one packet of the given form.
void CollectHevcPacketIds(const uint8_t* data, int size, H264PacketForm form, HevcParameterSetIds* ids);

// How far pictures are reordered, as a VPS or SPS announces it for its
// highest sub-layer.
struct HevcReordering {
    uint32_t decPicBufferingMinus1 = 0;
    uint32_t numReorderPics = 0;
    uint32_t latencyIncreasePlus1 = 0;  // 0: no limit
};

// The reordering of the first SPS of codec extradata (hvcC or Annex B).
std::optional<HevcReordering> HevcReorderingOfExtradata(const uint8_t* data, size_t size);

// The ids encoded pictures are renumbered to, and the reordering their VPS
// and SPS announce at least: the copied stream's, so that a reader that
// takes the delay from the first SPS it meets keeps it for the copied
// pictures.
struct HevcSetIds {
    int vps = 1;
    int sps = 1;
    int pps = 15;
    std::optional<HevcReordering> reordering;
};

// Ids `used` leaves free. The PPS id is one whose code is a byte longer than
// that of id 0, so that a renumbered slice's data stays byte-aligned: 15 to
// 30. None when no such ids are free.
std::optional<HevcSetIds> FreeHevcSetIds(const HevcParameterSetIds& used);

// One NAL unit (header first, emulation prevention kept) with the ids that
// name parameter sets set to `to`: a VPS's own id, an SPS's and the VPS it
// names, a PPS's and the SPS it names, the PPS a slice names; a VPS's and an
// SPS's reordering raised to `to`'s. Other units
// come back as they are. Empty when the unit cannot be read, or when a
// slice's new PPS id would not keep its data byte-aligned.
std::vector<uint8_t> RenumberHevcUnit(const uint8_t* unit, size_t size, const HevcSetIds& to);

// Every unit of Annex B data renumbered, each behind a four-byte start code;
// empty when any unit cannot be.
std::vector<uint8_t> RenumberHevcAnnexB(const uint8_t* data, size_t size, const HevcSetIds& to);

}  // namespace kx
