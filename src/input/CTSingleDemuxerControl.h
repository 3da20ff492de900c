// Sample-by-sample reading and seeking on one opened file: packets as read
// (packet mode) or decoded pictures and PCM (decode mode).
#pragma once

#include <map>
#include <memory>

#include "input/DeclaredLength.h"
#include "input/DtsDeriver.h"
#include "input/ITDemuxer.h"
#include "input/PacketFeed.h"
#include "input/StreamEntry.h"

struct AVFrame;
struct AVStream;

namespace kx {

class CTSingleDemuxerControl final : public ITDemuxerControl {
public:
    // Seekability values of CheckSeekable.
    static constexpr int kSeekUnknown = 0;
    static constexpr int kSeekNo = 1;
    static constexpr int kSeekYes = 7;

    CTSingleDemuxerControl();
    ~CTSingleDemuxerControl();
    CTSingleDemuxerControl(const CTSingleDemuxerControl&) = delete;
    CTSingleDemuxerControl& operator=(const CTSingleDemuxerControl&) = delete;

    void Initialize(AVFormatContext* context, int decodeMode) override;
    int GetSampleInfo(SampleInfo* info) override;
    int HasSample() override { return sampleReady_; }
    void SetSampleReady(int value) override { sampleReady_ = value; }
    int SetHoldSample(int hold) override;
    int IsEndOfStream() override { return endOfStream_; }
    int ReadNext() override;
    int GetPacket(AVPacket* packet) override;
    DecodedFrame* GetDecodedFrame() override;
    int Seek(double seconds, SeekMode mode, int streamIndex) override;
    int CheckSeekable(int streamIndex) override;
    int Rewind() override;
    InputEnd GetInputEnd() override { return end_; }
    void ForgetInputEnd() override;

    // The file's start in ticks: every time this reader hands out or is asked
    // for is relative to it, so that all readers of a file share one clock
    // that starts at 0.
    void SetTimeZero(int64_t ticks) { timeZero_ = ticks; }
    int64_t TimeZero() const { return timeZero_; }

    // Where its packets come from (not owned); set before the first read.
    void SetFeed(PacketFeed* feed) { feed_ = feed; }

    // The file was put elsewhere behind the reader's back (a key-frame scan):
    // what was derived from what it read no longer follows, unless its feed
    // goes on where it was.
    void ForgetReadAhead() {
        if (!feed_ || !feed_->AfterScan()) ResetDerivedTimes();
    }

    // Another reader of the same file placed it for this one (one seek for
    // all): what it held is dropped and the first packet from there is held.
    // 1 when a packet is held.
    int FollowInput();

    // The owning demuxer's StartDemuxer: the selected streams, and in decode
    // mode a DecodedFrame per video and audio stream.
    void AttachStreams(StreamMap* streams);

private:
    int ReadPacketMode();
    int ReadDecodeMode();
    bool ReceiveDecodedFrame();
    void TakeVideoFrame(StreamEntry& entry, AVStream* stream);
    void TakeAudioFrame(StreamEntry& entry);
    void FlushDecoders();

    int BasicSeek(double seconds, SeekMode mode, int streamIndex);
    int SeekVideo(double seconds, SeekMode mode, int streamIndex);
    int ReadAfterRelease();
    // Before the first packet of the file, reading nothing yet.
    int SeekToStart(int streamIndex);
    // A key frame of the seek's own stream is held.
    bool HeldKeySample(int streamIndex) const;
    int SeekTarget(int streamIndex) const;
    // Bytes of another picture in front of the held H.264 packet (the first
    // one read after a seek) are cut off.
    void DropSeekRemnant();
    // Ticks relative to the file's start; derives missing decoding times.
    void RebasePacketTimes(const AVStream* stream, MediaType mediaType);
    void ResetDerivedTimes() { derivers_.clear(); }
    // What the end-of-input judgement needs of each packet read, and the
    // judgement when a read fails.
    void NotePacketRead(const AVStream* stream, const AVPacket* packet);
    void NoteEndOfInput(int error);
    int64_t ExpectedEndTicks() const;
    int64_t ExpectedEndTicksFromLibrary() const;
    bool IndexPastEnd(int64_t fileBytes) const;

    AVFormatContext* format_ = nullptr;
    StreamMap* streams_ = nullptr;
    int sampleReady_ = 0;
    int endOfStream_ = 0;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int packetMode_ = 1;
    SampleInfo info_{};
    std::map<int, DecodedFrame*> decodedFrames_;
    int discardOnRead_ = 0;
    int sampleTaken_ = 1;
    int seekability_ = kSeekUnknown;

    // Decode mode: the read ran out and the decoders are being drained.
    bool draining_ = false;
    int64_t framePts_ = 0;  // pts given to the last decoded frame
    int64_t timeZero_ = 0;
    // Per video stream whose container stores no decoding times; made at the
    // first packet after an open or a seek.
    std::map<int, DtsDeriver> derivers_;
    // Packet mode reads through it with the times the container left out filled in.
    PacketFeed* feed_ = nullptr;

    int64_t openedBytes_ = -1;  // the file's size when it was opened
    DeclaredHead declared_;     // what the container's head says of its length
    int64_t reachedTicks_ = 0;
    bool lastCutShort_ = false;
    InputEnd end_;
};

}  // namespace kx
