// The two forms of H.264 data, as byte-level functions on plain buffers:
// length prefixes (4-byte big-endian NAL sizes, parameter sets in an avcC
// record, as MP4 and MOV store them) and Annex B (start codes 00 00 00 01 or
// 00 00 01, as transport streams store them). Every function stays inside the
// buffer it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kx {

// One NAL unit inside a buffer: its first byte (the NAL header) and size.
struct NalUnit {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The first NAL unit after a start code in [begin, end): it runs up to the
// next start code or to the end. None when the range holds 4 bytes or fewer
// or no start code. Start codes within the last 4 bytes are not recognised.
std::optional<NalUnit> FindNalUnit(const uint8_t* begin, const uint8_t* end);

// Largest parameter set a store keeps (its start code needs the other 4 bytes).
constexpr size_t kMaxParameterSetSize = 1020;

// The last sequence and picture parameter sets seen, each behind 00 00 00 01.
struct H264ParameterSets {
    uint8_t sps[1024] = {};
    uint32_t spsLength = 0;  // bytes used, start code included; 0 = none
    uint8_t pps[1024] = {};
    uint32_t ppsLength = 0;
};

// Takes SPS and PPS from codec extradata in Annex B form or as an avcC record
// and stores them in `sets` (the last of several wins). Sets over 1020 bytes
// are skipped; an avcC record whose counts or lengths run past its end
// contributes nothing. True when `sets` now holds both an SPS and a PPS
// (including what earlier calls stored).
bool ParseH264ParameterSets(const uint8_t* extradata, size_t size, H264ParameterSets* sets);

// Calls take(unit, size) for each SPS, then each PPS, of an avcC record, in
// its order, up to the first count or length that runs past its end.
void ForEachAvcCUnit(const uint8_t* record, size_t size, const std::function<void(const uint8_t*, size_t)>& take);

// The Annex B global header built from the stores: SPS, then PPS, each with
// its start code (SPS length + PPS length bytes). The SPS must come first: a
// decoder reading a PPS before the SPS it refers to rejects the PPS.
std::vector<uint8_t> BuildAnnexBHeader(const H264ParameterSets& sets);

// The avcC record (ISO/IEC 14496-15) for the stored SPS and PPS: 11 + n + m
// bytes for an SPS of n and a PPS of m bytes, four-byte NAL lengths. Empty
// when either store is missing, the SPS is too short to carry profile and
// level, or a set is longer than 16 bits can say.
std::vector<uint8_t> BuildAvcCRecord(const H264ParameterSets& sets);

// Appends to an avcC record the fields that the record carries for profiles
// other than Baseline, Main and Extended (chroma format, bit depths, no SPS
// extensions), read from its first SPS; nothing when that SPS cannot be read.
void AppendAvcCProfileFields(std::vector<uint8_t>* record);

// Every SPS and PPS of codec extradata (as ParseH264ParameterSets reads it)
// that is not one of the two `kept` stores, in Annex B form: what a global
// header rebuilt from the stores would lose when the extradata holds more
// than one of a kind. A damaged avcC record gives nothing.
std::vector<uint8_t> ParameterSetsBesides(const uint8_t* extradata, size_t size, const H264ParameterSets& kept);

// The avcC record with the SPS and PPS units of `annexB` (start codes and
// all, other units left out) appended to its lists, the counts raised. Empty
// when the record's lists run past its end, when a list would hold more than
// it can count (31 SPS, 255 PPS), or when a unit is longer than 16 bits say.
std::vector<uint8_t> AppendToAvcCRecord(const uint8_t* record, size_t recordSize, const uint8_t* annexB,
                                        size_t annexBSize);

// Rewrites, in place, every four-byte length prefix of the payload as the
// start code 00 00 00 01. Fails on a length below 1 (nothing sensible can be
// written then). A last length that reaches past the end is taken as the rest
// of the payload; a remainder of 1 to 3 bytes after the last unit, too short
// for a prefix, is zeroed (trailing zero bytes, which Annex B readers skip).
// Fewer than 4 bytes: success, nothing changed.
bool LengthPrefixesToStartCodes(uint8_t* payload, size_t size);

// The Annex B payload (first byte a start code) rewritten with a four-byte
// length prefix in front of every NAL unit, three-byte start codes included.
// Bytes before the first start code are dropped; an empty result means the
// payload held no unit.
std::vector<uint8_t> StartCodesToLengthPrefixes(const uint8_t* payload, size_t size);

// Whether the payload is a chain of four-byte length prefixes, each at least
// 1, whose units end exactly at the end of the payload. This tells the forms
// apart where the first bytes cannot: a unit of 256 to 511 bytes begins with
// 00 00 01, a unit of one byte with 00 00 00 01, while Annex B data read as
// lengths asks for megabytes after its first start code.
bool IsLengthPrefixChain(const uint8_t* payload, size_t size);

// Whether the payload begins with 00 00 00 01, or with 00 00 01.
bool BeginsWithFourByteStartCode(const uint8_t* payload, size_t size);
bool BeginsWithThreeByteStartCode(const uint8_t* payload, size_t size);

}  // namespace kx
