// Analysis of a multi-reader file: each request goes to the reader of the
// stream it names.
#pragma once

#include "input/ITDemuxer.h"
#include "input/StreamReaderEntry.h"

namespace kx {

class CTMultiAnalyze final : public ITAnalyze {
public:
    CTMultiAnalyze() = default;
    ~CTMultiAnalyze() = default;
    CTMultiAnalyze(const CTMultiAnalyze&) = delete;
    CTMultiAnalyze& operator=(const CTMultiAnalyze&) = delete;

    int IsReady() override { return ready_; }
    void Attach(AVFormatContext*) override { ready_ = 1; }
    int SetProgressCallback(int streamIndex, AnalyzeProgressCallback callback, void* context) override;
    KeyFrameIndex* GetKeyFrameIndex(int streamIndex) override;
    std::optional<std::vector<KeyFrameRecord>> GetKeyFramesAround(int streamIndex,
                                                                  const std::vector<int64_t>& times) override;
    bool KnownIdrKeyFrame(int streamIndex, int64_t time) override;
    void Cancel(int streamIndex) override;
    StreamMediaInfo* GetMediaInfo(int streamIndex) override;
    void FreeMediaInfo(StreamMediaInfo* info) override;

    // The owning demuxer's StartDemuxer.
    void AttachReaders(StreamReaderMap* readers) { readers_ = readers; }

private:
    ITAnalyze* AnalyzeOf(int streamIndex);

    int ready_ = 0;
    StreamReaderMap* readers_ = nullptr;
};

}  // namespace kx
