// Reader of one file: opens it, keeps the selected streams, and hands out its
// control (reading, seeking) and analysis (key frames, media information).
#pragma once

#include <memory>

#include "input/CTSingleAnalyze.h"
#include "input/CTSingleDemuxerControl.h"
#include "input/InputOpen.h"
#include "input/SharedInput.h"
#include "input/ITDemuxer.h"
#include "input/StreamEntry.h"

namespace kx {

class CTSingleTDemuxer final : public ITDemuxer {
public:
    static constexpr int kPathCapacity = 1024;  // wide characters, terminator included

    CTSingleTDemuxer() = default;
    ~CTSingleTDemuxer() override;
    CTSingleTDemuxer(const CTSingleTDemuxer&) = delete;
    CTSingleTDemuxer& operator=(const CTSingleTDemuxer&) = delete;

    int Initialize() override { return 0; }
    int Close() override;
    // Fails (-1) for a null path, a path of more than 1023 characters or a
    // UTF-8 name of 1024 bytes or more, and a file the library cannot read.
    int Open(const char16_t* path, int decodeMode) override;
    // Open with `opened`, a context of the same source that was opened and
    // had its stream information read exactly as Open does (OpenInput), and
    // nothing else done to it: the reader starts where a fresh open would.
    // Takes the context in every case (closes it when the open fails); null
    // opens anew.
    int OpenWith(const InputSource& source, int decodeMode, AVFormatContext* opened);
    // Open on a file that the readers of its other streams read too; the
    // reader takes one stream, whose lane of the shared file it reads.
    int OpenShared(std::shared_ptr<SharedInput> input, int decodeMode);
    // Why the last open failed (kNone after a success).
    const InputProblem& LastProblem() const { return problem_; }
    int AddStream(int streamIndex) override;
    int StartDemuxer() override;
    ITAnalyze* GetAnalyze() override;
    ITDemuxerControl* GetControl() override { return control_.get(); }
    CTSingleDemuxerControl* Control() { return control_.get(); }

    bool IsOpen() const { return format_ != nullptr; }
    const AVFormatContext* FormatContext() const { return format_; }
    // The earliest start time (ticks) of the selected streams; 0 when none says.
    int64_t EarliestStartTicks() const;
    // Key frames a pass over the whole file found, for this reader's key-frame query.
    void UseKeyFramesFound(std::shared_ptr<const FilePassKeyFrames> found);
    // Every time this reader hands out or takes is relative to `ticks`.
    void SetTimeZero(int64_t ticks);
    // Media type of a selected stream, 0 when it is not selected.
    MediaType MediaTypeOf(int streamIndex) const;

private:
    // Control and analysis on the opened context.
    void SetUpReading(const InputSource& source, int decodeMode);
    void ApplyDiscard();

    AVFormatContext* format_ = nullptr;  // owned unless shared_ is set
    std::shared_ptr<SharedInput> shared_;
    std::unique_ptr<PacketFeed> ownFeed_;
    char16_t path_[kPathCapacity] = {};
    InputProblem problem_;
    int64_t fileBytes_ = 0;
    int decodeMode_ = 0;  // as opened: bounds the pictures its decoders set up
    StreamMap streams_;
    std::unique_ptr<CTSingleAnalyze> analyze_;
    std::unique_ptr<CTSingleDemuxerControl> control_;
    int started_ = 0;
};

}  // namespace kx
