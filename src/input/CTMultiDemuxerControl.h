// Merges the per-stream readers of one file into one sequence of samples in
// presentation-time order, and seeks them together: where they share the
// file, with as few seeks of it as the readers' places allow.
#pragma once

#include "input/ITDemuxer.h"
#include "input/SharedInput.h"
#include "input/StreamReaderEntry.h"
#include "input/StreamReaderEntry.h"

namespace kx {

class CTMultiDemuxerControl final : public ITDemuxerControl {
public:
    CTMultiDemuxerControl() = default;
    ~CTMultiDemuxerControl() = default;
    CTMultiDemuxerControl(const CTMultiDemuxerControl&) = delete;
    CTMultiDemuxerControl& operator=(const CTMultiDemuxerControl&) = delete;

    void Initialize(AVFormatContext* context, int decodeMode) override { prime_ = 1; }
    int GetSampleInfo(SampleInfo* info) override;
    int HasSample() override;
    void SetSampleReady(int value) override;
    int SetHoldSample(int hold) override;
    int IsEndOfStream() override;
    int ReadNext() override;
    int GetPacket(AVPacket* packet) override;
    DecodedFrame* GetDecodedFrame() override;
    int Seek(double seconds, SeekMode mode, int streamIndex) override;
    int CheckSeekable(int streamIndex) override;
    int Rewind() override;
    // The worst end of its readers (an early one wins).
    InputEnd GetInputEnd() override;
    void ForgetInputEnd() override;

    // The owning demuxer's StartDemuxer; input: the file the readers share.
    void AttachReaders(StreamReaderMap* readers, SharedInput* input = nullptr) {
        readers_ = readers;
        input_ = input;
    }

private:
    // The reader holding the sample with the smallest pts (lowest index on
    // ties), skipping ended readers; null when none holds a sample.
    ITDemuxerControl* EarliestReader();
    // The reader of one stream; null when the stream (or the file) has none.
    ITDemuxerControl* ReaderOf(int streamIndex);
    // Positions an audio reader so that its first packet is not later than time (ticks).
    int SeekAudioBefore(ITDemuxerControl* control, int index, int64_t time);
    // Every video reader to its key frame: the last one's result and the time
    // it reached (the time asked for when no video leads), and the last video
    // reader that reads the shared file, which the audio may follow.
    struct VideoSeek {
        int result = -1;
        int64_t reached = 0;
        StreamReaderEntry* leader = nullptr;
    };
    VideoSeek SeekVideoFirst(double seconds, SeekMode mode);
    // Several readers of one shared file.
    bool Sharing() const;
    int SeekShared(double seconds, SeekMode mode);
    int RewindShared();
    // The reader follows where the shared file was put and holds a packet not later than time (ticks).
    static bool HeldBy(CTSingleDemuxerControl* control, int64_t time);
    static constexpr double kAudioLeadSeconds = 0.5;
    static constexpr int kAudioSeekAttempts = 4;

    StreamReaderMap* readers_ = nullptr;
    SharedInput* input_ = nullptr;
    int prime_ = 0;
};

}  // namespace kx
