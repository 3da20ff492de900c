// FLAC frames carry their own position in the stream (a frame or a first
// sample number, under a CRC), and the raw .flac reader times them by it: a
// clip cut from the middle, or a second file joined on, would be read back
// at its old place. Frames written into a .flac file are renumbered to where
// they land, and the stream description's totals follow what was written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct AVPacket;

namespace kx {

struct FlacFrameHeader {
    bool variableBlockSize = false;  // numbered by first sample, else by frame
    uint64_t number = 0;
    uint32_t blockSize = 0;          // samples in the frame
    size_t numberLength = 0;         // bytes of the coded number, from byte 4
    size_t length = 0;               // header bytes, CRC-8 included
};

// The header at the start of `data`, its CRC-8 checked; none when the bytes
// are not a frame header.
std::optional<FlacFrameHeader> ReadFlacFrameHeader(const uint8_t* data, size_t size);

// The frame numbered by its first sample, with both CRCs made anew; empty when
// `data` is not a whole frame.
std::vector<uint8_t> RenumberedFlacFrame(const uint8_t* data, size_t size, uint64_t firstSample);

class FlacFrameNumbering {
public:
    // extradata: the stream's STREAMINFO, bare or after "fLaC" and a block
    // header; without one the frames are still renumbered.
    FlacFrameNumbering(const uint8_t* extradata, size_t size);

    // Renumbers the frame in `packet` (a packet that is no frame stays as it
    // is) and hands the writer the STREAMINFO updated so far. False when no
    // memory is left.
    bool Renumber(AVPacket* packet);

private:
    void UpdateStreamInfo(uint32_t blockSize, size_t frameBytes);

    std::optional<std::array<uint8_t, 34>> streamInfo_;
    uint64_t samplesWritten_ = 0;
    uint32_t minBlock_ = UINT32_MAX, maxBlock_ = 0, lastBlock_ = 0;
    uint32_t minFrameBytes_ = UINT32_MAX, maxFrameBytes_ = 0;
};

}  // namespace kx
