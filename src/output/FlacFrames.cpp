#include "output/FlacFrames.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/bswap.h>
#include <libavutil/crc.h>
}

#include "output/PacketEdits.h"

namespace kx {

namespace {

constexpr size_t kStreamInfoBytes = 34;

uint8_t Crc8(const uint8_t* data, size_t size) {
    return static_cast<uint8_t>(av_crc(av_crc_get_table(AV_CRC_8_ATM), 0, data, size));
}

uint16_t Crc16(const uint8_t* data, size_t size) {
    // FLAC's CRC-16 (polynomial 0x8005, not reflected): the library's table
    // works on the byte-swapped register.
    return av_bswap16(static_cast<uint16_t>(av_crc(av_crc_get_table(AV_CRC_16_ANSI), 0, data, size)));
}

// The number in FLAC's UTF-8-like coding: 1 to 7 bytes, up to 36 bits.
std::optional<uint64_t> ReadCodedNumber(const uint8_t* data, size_t size, size_t* length) {
    if (size == 0) return std::nullopt;
    const uint8_t first = data[0];
    size_t extra = 0;
    while (extra < 7 && (first & (0x80 >> extra))) ++extra;
    if (extra == 1 || (extra == 7 && first != 0xFE)) return std::nullopt;
    const size_t bytes = extra == 0 ? 1 : extra;
    if (bytes > size) return std::nullopt;
    uint64_t value = extra == 0 ? first : first & (0xFF >> (extra + 1));
    for (size_t i = 1; i < bytes; ++i) {
        if ((data[i] & 0xC0) != 0x80) return std::nullopt;
        value = value << 6 | (data[i] & 0x3F);
    }
    *length = bytes;
    return value;
}

void AppendCodedNumber(std::vector<uint8_t>& out, uint64_t value) {
    if (value < 0x80) {
        out.push_back(static_cast<uint8_t>(value));
        return;
    }
    size_t bytes = 2;
    while (bytes < 7 && value >= (uint64_t{1} << (5 * bytes + 1))) ++bytes;
    const uint8_t marker = static_cast<uint8_t>(0xFF00 >> bytes);
    out.push_back(static_cast<uint8_t>(marker | (bytes == 7 ? 0 : value >> (6 * (bytes - 1)))));
    for (size_t i = bytes - 1; i-- > 0;) out.push_back(static_cast<uint8_t>(0x80 | ((value >> (6 * i)) & 0x3F)));
}

}  // namespace

std::optional<FlacFrameHeader> ReadFlacFrameHeader(const uint8_t* data, size_t size) {
    if (!data || size < 6 || data[0] != 0xFF || (data[1] & 0xFE) != 0xF8) return std::nullopt;
    FlacFrameHeader header;
    header.variableBlockSize = data[1] & 1;
    const int blockCode = data[2] >> 4, rateCode = data[2] & 0x0F;
    if (blockCode == 0 || rateCode == 15 || (data[3] & 1)) return std::nullopt;
    auto number = ReadCodedNumber(data + 4, size - 4, &header.numberLength);
    if (!number) return std::nullopt;
    header.number = *number;
    size_t at = 4 + header.numberLength;
    const size_t blockBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const size_t rateBytes = rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    if (at + blockBytes + rateBytes + 1 > size) return std::nullopt;
    if (blockCode == 1)
        header.blockSize = 192;
    else if (blockCode <= 5)
        header.blockSize = 576u << (blockCode - 2);
    else if (blockCode == 6)
        header.blockSize = data[at] + 1u;
    else if (blockCode == 7)
        header.blockSize = (data[at] << 8 | data[at + 1]) + 1u;
    else
        header.blockSize = 256u << (blockCode - 8);
    at += blockBytes + rateBytes;
    if (Crc8(data, at) != data[at]) return std::nullopt;
    header.length = at + 1;
    return header;
}

std::vector<uint8_t> RenumberedFlacFrame(const uint8_t* data, size_t size, uint64_t firstSample) {
    const auto header = ReadFlacFrameHeader(data, size);
    if (!header || size < header->length + 2 || firstSample >= (uint64_t{1} << 36)) return {};
    std::vector<uint8_t> out(data, data + 4);
    out.reserve(size + 8);
    out[1] |= 1;
    AppendCodedNumber(out, firstSample);
    const size_t afterNumber = 4 + header->numberLength;
    out.insert(out.end(), data + afterNumber, data + header->length - 1);
    out.push_back(Crc8(out.data(), out.size()));
    out.insert(out.end(), data + header->length, data + size - 2);
    const uint16_t crc = Crc16(out.data(), out.size());
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc & 0xFF));
    return out;
}

FlacFrameNumbering::FlacFrameNumbering(const uint8_t* extradata, size_t size) {
    if (!extradata) return;
    const uint8_t* info = nullptr;
    if (size == kStreamInfoBytes)
        info = extradata;
    else if (size >= 8 + kStreamInfoBytes && std::memcmp(extradata, "fLaC", 4) == 0 && (extradata[4] & 0x7F) == 0)
        info = extradata + 8;
    if (!info) return;
    streamInfo_.emplace();
    std::copy(info, info + kStreamInfoBytes, streamInfo_->begin());
}

bool FlacFrameNumbering::Renumber(AVPacket* packet) {
    if (!packet || !packet->data) return true;
    const size_t size = static_cast<size_t>(packet->size);
    const auto header = ReadFlacFrameHeader(packet->data, size);
    if (!header) return true;
    const std::vector<uint8_t> frame = RenumberedFlacFrame(packet->data, size, samplesWritten_);
    if (frame.empty()) return true;
    if (!ReplacePayload(packet, frame.data(), frame.size())) return false;
    samplesWritten_ += header->blockSize;
    UpdateStreamInfo(header->blockSize, frame.size());
    if (!streamInfo_) return true;
    // The writer keeps the last one it is given and puts it in place of the
    // header's when the file is complete.
    uint8_t* side = av_packet_new_side_data(packet, AV_PKT_DATA_NEW_EXTRADATA, kStreamInfoBytes);
    if (!side) return false;
    std::memcpy(side, streamInfo_->data(), kStreamInfoBytes);
    return true;
}

void FlacFrameNumbering::UpdateStreamInfo(uint32_t blockSize, size_t frameBytes) {
    // The smallest block leaves out the last one, which may be short.
    if (lastBlock_) minBlock_ = std::min(minBlock_, lastBlock_);
    lastBlock_ = blockSize;
    maxBlock_ = std::max(maxBlock_, blockSize);
    minFrameBytes_ = std::min<uint32_t>(minFrameBytes_, static_cast<uint32_t>(frameBytes));
    maxFrameBytes_ = std::max<uint32_t>(maxFrameBytes_, static_cast<uint32_t>(frameBytes));
    if (!streamInfo_) return;
    auto& info = *streamInfo_;
    const uint32_t minBlock = minBlock_ == UINT32_MAX ? blockSize : minBlock_;
    info[0] = static_cast<uint8_t>(minBlock >> 8);
    info[1] = static_cast<uint8_t>(minBlock);
    info[2] = static_cast<uint8_t>(maxBlock_ >> 8);
    info[3] = static_cast<uint8_t>(maxBlock_);
    for (int i = 0; i < 3; ++i) {
        info[4 + i] = static_cast<uint8_t>(minFrameBytes_ >> (16 - 8 * i));
        info[7 + i] = static_cast<uint8_t>(maxFrameBytes_ >> (16 - 8 * i));
    }
    // 36 bits of total samples: the low nibble of byte 13, then bytes 14 to 17.
    info[13] = static_cast<uint8_t>((info[13] & 0xF0) | ((samplesWritten_ >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i) info[14 + i] = static_cast<uint8_t>(samplesWritten_ >> (24 - 8 * i));
    // The source's checksum was of other samples: 0 says none is known.
    std::fill(info.begin() + 18, info.end(), uint8_t{0});
}

}  // namespace kx
