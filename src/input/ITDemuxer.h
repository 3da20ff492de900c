// The demux layer's three interfaces: plain abstract classes, no reference
// counting; the creator owns and deletes the object. 0 success, -1 failure.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "input/DemuxTypes.h"
#include "input/InputEnd.h"

struct AVFormatContext;
struct AVPacket;

namespace kx {

// How Seek lands: on the key frame at or before the time, at any packet at
// or after it, or at a byte position (the "seconds" are then bytes).
enum class SeekMode { kBackwardKey, kByte, kAny };

class ITDemuxerControl {
public:
    virtual void Initialize(AVFormatContext* context, int decodeMode) = 0;
    virtual int GetSampleInfo(SampleInfo* info) = 0;
    virtual int HasSample() = 0;
    virtual void SetSampleReady(int value) = 0;
    virtual int SetHoldSample(int hold) = 0;
    virtual int IsEndOfStream() = 0;
    virtual int ReadNext() = 0;
    // Copies the held packet into the caller's (av_packet_alloc'ed) packet,
    // timestamps in ticks. 1 when a copy was made.
    virtual int GetPacket(AVPacket* packet) = 0;
    virtual DecodedFrame* GetDecodedFrame() = 0;
    virtual int Seek(double seconds, SeekMode mode, int streamIndex) = 0;
    virtual int CheckSeekable(int streamIndex) = 0;
    // Back to the first packet of every selected stream (pre-roll, priming
    // and packets before the first key frame included); the first packet is
    // held. Returns 1 when a packet is held.
    virtual int Rewind() = 0;
    // How the input ended, as far as this reader has read since the last
    // ForgetInputEnd; an early end stays until then, whatever seeks follow.
    virtual InputEnd GetInputEnd() = 0;
    virtual void ForgetInputEnd() = 0;

protected:
    ~ITDemuxerControl() = default;
};

class ITAnalyze {
public:
    virtual int IsReady() = 0;
    virtual void Attach(AVFormatContext* context) = 0;
    virtual int SetProgressCallback(int streamIndex, AnalyzeProgressCallback callback, void* context) = 0;
    // Owned by the analyze object, valid until the demuxer is closed.
    virtual KeyFrameIndex* GetKeyFrameIndex(int streamIndex) = 0;
    // The key frames next to each time (ticks on the file's clock) and the
    // file's first, without reading the whole stream where the container
    // allows; none when it does not (the caller indexes the whole stream).
    virtual std::optional<std::vector<KeyFrameRecord>> GetKeyFramesAround(int streamIndex,
                                                                          const std::vector<int64_t>& times) = 0;
    // Whether a search near times has read the H.264 key frame at `time`
    // (ticks on the file's clock) and found it an IDR picture; false when
    // it is not one or was not read.
    virtual bool KnownIdrKeyFrame(int streamIndex, int64_t time) = 0;
    virtual void Cancel(int streamIndex) = 0;
    virtual StreamMediaInfo* GetMediaInfo(int streamIndex) = 0;
    virtual void FreeMediaInfo(StreamMediaInfo* info) = 0;

protected:
    ~ITAnalyze() = default;
};

class ITDemuxer {
public:
    virtual int Initialize() = 0;
    virtual int Close() = 0;
    virtual int Open(const char16_t* path, int decodeMode) = 0;
    virtual int AddStream(int streamIndex) = 0;
    virtual int StartDemuxer() = 0;
    virtual ITAnalyze* GetAnalyze() = 0;
    virtual ITDemuxerControl* GetControl() = 0;
    virtual ~ITDemuxer() = default;
};

}  // namespace kx
