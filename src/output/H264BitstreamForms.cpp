#include "output/H264BitstreamForms.h"

#include <cstring>
#include <optional>
#include <utility>

#include "input/H264SpsSyntax.h"
#include "input/RbspBitReader.h"

namespace kx {

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
constexpr uint8_t kNalTypeSps = 7;
constexpr uint8_t kNalTypePps = 8;

bool IsFourByteStartCode(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1; }
bool IsThreeByteStartCode(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

uint32_t ReadBigEndian16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t ReadBigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void AppendBigEndian16(std::vector<uint8_t>& out, size_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}
void AppendBigEndian32(std::vector<uint8_t>& out, size_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Puts one parameter set behind the start code of its store; sets too large
// for the store, and empty ones, are left out.
void StoreParameterSet(const uint8_t* unit, size_t size, H264ParameterSets* sets) {
    if (size < 1 || size > kMaxParameterSetSize) return;
    const uint8_t type = unit[0] & 0x1F;
    uint8_t* store = nullptr;
    uint32_t* length = nullptr;
    if (type == kNalTypeSps) {
        store = sets->sps;
        length = &sets->spsLength;
    } else if (type == kNalTypePps) {
        store = sets->pps;
        length = &sets->ppsLength;
    } else {
        return;
    }
    std::memcpy(store, kStartCode, 4);
    std::memcpy(store + 4, unit, size);
    *length = static_cast<uint32_t>(size + 4);
}

void ParseAnnexBParameterSets(const uint8_t* begin, const uint8_t* end, H264ParameterSets* sets) {
    auto unit = FindNalUnit(begin, end);
    while (unit) {
        StoreParameterSet(unit->data, unit->size, sets);
        unit = FindNalUnit(unit->data + unit->size, end);
    }
}

// Reads `count` sets of (16-bit length, bytes) from `*pos`; false when one
// runs past the end. Sets of other NAL types than expected are ignored.
bool ReadAvcCSets(const uint8_t* record, size_t size, size_t* pos, uint32_t count, H264ParameterSets* sets) {
    for (uint32_t i = 0; i < count; ++i) {
        if (size - *pos < 2) return false;
        const size_t length = ReadBigEndian16(record + *pos);
        *pos += 2;
        if (size - *pos < length) return false;
        StoreParameterSet(record + *pos, length, sets);
        *pos += length;
    }
    return true;
}

// avcC: version, profile, compatibility, level, length size, SPS count (low
// five bits) and the SPS, then the PPS count and the PPS. All or nothing.
void ParseAvcCParameterSets(const uint8_t* record, size_t size, H264ParameterSets* sets) {
    if (size < 6) return;
    H264ParameterSets parsed = *sets;
    size_t pos = 6;
    if (!ReadAvcCSets(record, size, &pos, record[5] & 0x1F, &parsed)) return;
    if (pos >= size) return;
    const uint32_t ppsCount = record[pos++];
    if (!ReadAvcCSets(record, size, &pos, ppsCount, &parsed)) return;
    *sets = parsed;
}

}  // namespace

void ForEachAvcCUnit(const uint8_t* record, size_t size, const std::function<void(const uint8_t*, size_t)>& take) {
    // Version, profile, compatibility, level, length size, then the SPS count
    // (low five bits) and the SPSs, the PPS count and the PPSs.
    size_t pos = 5;
    for (int list = 0; list < 2 && pos < size; ++list) {
        size_t count = list == 0 ? (record[pos] & 0x1F) : record[pos];
        ++pos;
        for (; count > 0 && pos + 2 <= size; --count) {
            const size_t length = ReadBigEndian16(record + pos);
            pos += 2;
            if (length > size - pos) return;
            take(record + pos, length);
            pos += length;
        }
    }
}

std::optional<NalUnit> FindNalUnit(const uint8_t* begin, const uint8_t* end) {
    if (!begin || !end || end <= begin || end - begin <= 4) return std::nullopt;
    const uint8_t* start = nullptr;
    size_t length = 0;
    const uint8_t* p = begin;
    while (end - p > 4) {
        size_t codeSize = 0;
        if (IsFourByteStartCode(p))
            codeSize = 4;
        else if (IsThreeByteStartCode(p))
            codeSize = 3;
        if (codeSize == 0) {
            ++p;
            continue;
        }
        if (start) {
            length = static_cast<size_t>(p - start);
            break;
        }
        start = p + codeSize;
        length = static_cast<size_t>(end - start);
        p += codeSize;
    }
    if (!start) return std::nullopt;
    return NalUnit{start, length};
}

bool ParseH264ParameterSets(const uint8_t* extradata, size_t size, H264ParameterSets* sets) {
    if (!sets) return false;
    if (extradata && size > 0) {
        const uint8_t* end = extradata + size;
        if (FindNalUnit(extradata, end))
            ParseAnnexBParameterSets(extradata, end, sets);
        else
            ParseAvcCParameterSets(extradata, size, sets);
    }
    return sets->spsLength != 0 && sets->ppsLength != 0;
}

std::vector<uint8_t> BuildAnnexBHeader(const H264ParameterSets& sets) {
    std::vector<uint8_t> header;
    header.reserve(sets.spsLength + sets.ppsLength);
    header.insert(header.end(), sets.sps, sets.sps + sets.spsLength);
    header.insert(header.end(), sets.pps, sets.pps + sets.ppsLength);
    return header;
}

std::vector<uint8_t> BuildAvcCRecord(const H264ParameterSets& sets) {
    std::vector<uint8_t> record;
    // The SPS must carry its header byte and profile, constraints and level.
    if (sets.spsLength < 4 + 4 || sets.ppsLength < 4 + 1) return record;
    const size_t n = sets.spsLength - 4;
    const size_t m = sets.ppsLength - 4;
    if (n > 0xFFFF || m > 0xFFFF) return record;
    const uint8_t* sps = sets.sps + 4;
    const uint8_t* pps = sets.pps + 4;
    record.reserve(11 + n + m);
    record.push_back(1);       // configuration version
    record.push_back(sps[1]);  // profile_idc
    record.push_back(sps[2]);  // constraint flags
    record.push_back(sps[3]);  // level_idc
    record.push_back(0xFF);    // reserved bits, four-byte NAL lengths
    record.push_back(0xE1);    // reserved bits, one SPS
    AppendBigEndian16(record, n);
    record.insert(record.end(), sps, sps + n);
    record.push_back(1);  // one PPS
    AppendBigEndian16(record, m);
    record.insert(record.end(), pps, pps + m);
    return record;
}

void AppendAvcCProfileFields(std::vector<uint8_t>* record) {
    if (record->size() < 6 || ((*record)[5] & 0x1F) == 0) return;  // no SPS
    const uint8_t profile = (*record)[1];
    if (profile == 66 || profile == 77 || profile == 88) return;
    std::optional<H264SpsStart> chroma;
    bool first = true;
    ForEachAvcCUnit(record->data(), record->size(), [&](const uint8_t* unit, size_t length) {
        if (!std::exchange(first, false) || length < 4) return;
        RbspBitReader bits(unit + 1, length - 1);  // after the NAL header byte
        chroma = ReadH264SpsStart(bits);
    });
    if (!chroma) return;
    record->push_back(static_cast<uint8_t>(0xFC | chroma->format));
    record->push_back(static_cast<uint8_t>(0xF8 | chroma->lumaDepthMinus8));
    record->push_back(static_cast<uint8_t>(0xF8 | chroma->chromaDepthMinus8));
    record->push_back(0);  // SPS extensions
}

std::vector<uint8_t> ParameterSetsBesides(const uint8_t* extradata, size_t size, const H264ParameterSets& kept) {
    std::vector<uint8_t> others;
    if (!extradata || size == 0) return others;
    const auto take = [&](const uint8_t* unit, size_t length) {
        if (length == 0) return;
        const uint8_t type = unit[0] & 0x1F;
        if (type != kNalTypeSps && type != kNalTypePps) return;
        const uint8_t* store = type == kNalTypeSps ? kept.sps : kept.pps;
        const uint32_t stored = type == kNalTypeSps ? kept.spsLength : kept.ppsLength;
        if (stored == length + 4 && std::memcmp(store + 4, unit, length) == 0) return;
        others.insert(others.end(), kStartCode, kStartCode + 4);
        others.insert(others.end(), unit, unit + length);
    };
    const uint8_t* end = extradata + size;
    if (FindNalUnit(extradata, end)) {
        for (const uint8_t* from = extradata; from < end;) {
            const std::optional<NalUnit> unit = FindNalUnit(from, end);
            if (!unit) break;
            take(unit->data, unit->size);
            from = unit->data + unit->size;
        }
        return others;
    }
    // avcC: the SPS list (count in the low five bits of byte 5), then the PPS list.
    if (size < 6) return others;
    size_t pos = 5;
    for (int list = 0; list < 2; ++list) {
        if (pos >= size) return {};
        const size_t count = list == 0 ? (extradata[pos] & 0x1F) : extradata[pos];
        ++pos;
        for (size_t k = 0; k < count; ++k) {
            if (size - pos < 2) return {};
            const size_t length = ReadBigEndian16(extradata + pos);
            pos += 2;
            if (size - pos < length) return {};
            take(extradata + pos, length);
            pos += length;
        }
    }
    return others;
}

std::vector<uint8_t> AppendToAvcCRecord(const uint8_t* record, size_t recordSize, const uint8_t* annexB,
                                        size_t annexBSize) {
    constexpr size_t kHeader = 5;  // version, profile, compatibility, level, length size
    constexpr size_t kMaxSps = 31, kMaxPps = 255;
    std::vector<uint8_t> none;
    if (!record || recordSize <= kHeader || record[0] != 1) return none;
    // The record's own lists: [start, end) of each, with its count.
    size_t pos = kHeader;
    size_t lists[2][3] = {};  // start, end, count
    for (int list = 0; list < 2; ++list) {
        if (pos >= recordSize) return none;
        const size_t count = list == 0 ? (record[pos] & 0x1F) : record[pos];
        lists[list][0] = ++pos;
        for (size_t k = 0; k < count; ++k) {
            if (recordSize - pos < 2) return none;
            const size_t length = (size_t{record[pos]} << 8) | record[pos + 1];
            if (length > recordSize - pos - 2) return none;
            pos += 2 + length;
        }
        lists[list][1] = pos;
        lists[list][2] = count;
    }
    std::vector<uint8_t> added[2];
    size_t addedCount[2] = {0, 0};
    const uint8_t* end = annexB ? annexB + annexBSize : nullptr;
    for (const uint8_t* from = annexB; from && from < end;) {
        const std::optional<NalUnit> unit = FindNalUnit(from, end);
        if (!unit) break;
        const uint8_t type = unit->data[0] & 0x1F;
        if (type == kNalTypeSps || type == kNalTypePps) {
            if (unit->size > 0xFFFF) return none;
            const int list = type == kNalTypeSps ? 0 : 1;
            AppendBigEndian16(added[list], unit->size);
            added[list].insert(added[list].end(), unit->data, unit->data + unit->size);
            ++addedCount[list];
        }
        from = unit->data + unit->size;
    }
    if (lists[0][2] + addedCount[0] > kMaxSps || lists[1][2] + addedCount[1] > kMaxPps) return none;
    std::vector<uint8_t> out(record, record + lists[0][1]);
    out.insert(out.end(), added[0].begin(), added[0].end());
    out[kHeader] = static_cast<uint8_t>((record[kHeader] & 0xE0) | (lists[0][2] + addedCount[0]));
    out.push_back(static_cast<uint8_t>(lists[1][2] + addedCount[1]));
    out.insert(out.end(), record + lists[1][0], record + lists[1][1]);
    out.insert(out.end(), added[1].begin(), added[1].end());
    // Whatever follows the lists (the High profiles' chroma and depth fields) stays.
    out.insert(out.end(), record + lists[1][1], record + recordSize);
    return out;
}

bool LengthPrefixesToStartCodes(uint8_t* payload, size_t size) {
    if (!payload || size < 4) return true;
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < 4) {
            std::memset(payload + pos, 0, size - pos);
            return true;
        }
        const auto length = static_cast<int32_t>(ReadBigEndian32(payload + pos));
        if (length < 1) return false;
        std::memcpy(payload + pos, kStartCode, 4);
        pos += 4 + static_cast<size_t>(length);
    }
    return true;
}

std::vector<uint8_t> StartCodesToLengthPrefixes(const uint8_t* payload, size_t size) {
    std::vector<uint8_t> out;
    if (!payload) return out;
    const uint8_t* end = payload + size;
    out.reserve(size + 16);
    auto unit = FindNalUnit(payload, end);
    while (unit) {
        if (unit->size > 0) {
            AppendBigEndian32(out, unit->size);
            out.insert(out.end(), unit->data, unit->data + unit->size);
        }
        unit = FindNalUnit(unit->data + unit->size, end);
    }
    return out;
}

bool IsLengthPrefixChain(const uint8_t* payload, size_t size) {
    if (!payload || size < 5) return false;
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < 4) return false;
        const size_t length = ReadBigEndian32(payload + pos);
        if (length < 1 || length > size - pos - 4) return false;
        pos += 4 + length;
    }
    return true;
}

bool BeginsWithFourByteStartCode(const uint8_t* payload, size_t size) {
    return payload && size >= 4 && IsFourByteStartCode(payload);
}

bool BeginsWithThreeByteStartCode(const uint8_t* payload, size_t size) {
    return payload && size >= 3 && IsThreeByteStartCode(payload);
}

}  // namespace kx
