// Helpers for the muxer tests: a whole-file copy through the demux layer and
// CTMuxer, an input read with the library directly for hand-made cases (our
// stream records, packets in 100-ns ticks), and ffprobe / ffmpeg as judges.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "input/DemuxTypes.h"

struct AVFormatContext;
struct AVPacket;

namespace muxtest {

class SourceReader {
public:
    explicit SourceReader(const std::string& path);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    bool IsOpen() const { return context_ != nullptr; }
    // First stream of media type 1 (video) or 2 (audio), or -1.
    int FirstStreamOf(kx::MediaType mediaType) const;
    // Our record of a video or audio stream, owned by the reader; null otherwise.
    kx::StreamMediaInfo* Info(int streamIndex);
    // Next packet of any stream with pts, dts and duration in ticks.
    bool Read(AVPacket* packet);

private:
    struct Record {
        kx::StreamMediaInfo info;
        std::vector<uint8_t> extradata;
    };
    AVFormatContext* context_ = nullptr;
    std::map<int, std::unique_ptr<Record>> records_;
};

struct CopyResult {
    int openResult = -99;
    int headerResult = -99;
    int packetsWritten = 0;
    int writeFailures = 0;
    int closeResult = -99;
};

// Copies the first video and the first audio stream of `input` into `output`,
// read and described by the demux layer, as the copy engines do.
CopyResult CopyThroughMuxer(const std::string& input, const std::string& output);

// A fresh path in the test output folder (an older file of that name is removed).
std::string OutputPath(const std::string& name);

// "codec_name,codec_type" per stream, one a line.
std::string ProbeStreams(const std::string& path);
// The container format name that ffprobe reports.
std::string ProbeFormat(const std::string& path);
// The rotation that ffprobe reads from the video stream's display matrix ("" if none).
std::string ProbeRotation(const std::string& path);
// Payloads of the first `limit` packets of stream 0 as the container holds
// them (no parser joins or splits them). `format` names the input format
// where a tiny file would not be recognised.
std::vector<std::vector<uint8_t>> ReadPayloads(const std::string& path, size_t limit, const char* format = nullptr);

}  // namespace muxtest
