// Tiny streams of one codec, and FFmpeg's own container writers as the judge
// of whether a container stores such a stream as it is: the packets are
// written with the libavformat API, then read back.
#pragma once

#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace kxtest {

// The packets of one stream and what a writer is told about it.
class StreamSample {
public:
    StreamSample();
    ~StreamSample();
    StreamSample(const StreamSample&) = delete;
    StreamSample& operator=(const StreamSample&) = delete;

    AVCodecParameters* parameters;
    AVRational timeBase{1, 1000};
    AVRational frameRate{0, 1};
    std::vector<AVPacket*> packets;  // owned

    // Appends a copy of the bytes as a packet (times in timeBase).
    void AddPacket(const std::vector<uint8_t>& bytes, int64_t pts, int64_t duration, bool key);
};

// The first stream of a file, every packet of it. Empty with the reason in
// `why` when the file cannot be read.
std::unique_ptr<StreamSample> ReadStreamSample(const std::string& path, std::string* why);

// Cues in each subtitle sample: enough that a reader tells a transport or
// program stream from a bare subtitle file.
constexpr int kSubtitleCues = 8;

// Bitmap subtitles, encoded in this process: the ffmpeg program turns text
// into text only, so there is no file to start from.
std::unique_ptr<StreamSample> EncodeBitmapSubtitles(AVCodecID codec, std::string* why);

// Blu-ray (PGS) subtitles, written here byte by byte: FFmpeg has no encoder.
std::unique_ptr<StreamSample> MakePgsSubtitles();

// What a writer did with a sample.
struct CopyOutcome {
    int query = 0;        // avformat_query_codec at normal compliance: 1 yes, 0 no, < 0 not known
    bool stored = false;  // written, and read back as the same codec with every packet
    std::string why;      // when not stored: the step that failed, in the library's words
};

// Writes the sample alone into `path` with the writer named `writer` (null:
// the one FFmpeg picks by the file name), then reads the file back.
CopyOutcome CopyThrough(const StreamSample& sample, const std::string& path, const char* writer);

}  // namespace kxtest
