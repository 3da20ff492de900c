// Key-frame index and per-stream media information of one opened file.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "input/ITDemuxer.h"
#include "input/KeyFramesAround.h"

namespace kx {

class FilePassKeyFrames;

class CTSingleAnalyze final : public ITAnalyze {
public:
    CTSingleAnalyze();
    ~CTSingleAnalyze();
    CTSingleAnalyze(const CTSingleAnalyze&) = delete;
    CTSingleAnalyze& operator=(const CTSingleAnalyze&) = delete;

    int IsReady() override { return ready_; }
    void Attach(AVFormatContext* context) override;
    int SetProgressCallback(int streamIndex, AnalyzeProgressCallback callback, void* context) override;
    // Takes the key frames that a whole-file pass already found, else reads
    // them from an MP4's sample table where it agrees with the bitstream,
    // else scans the stream from the start of the file; the records are
    // appended to the index that this object keeps. Null for a non-video
    // stream or when cancelled (the index is then emptied).
    KeyFrameIndex* GetKeyFrameIndex(int streamIndex) override;
    // The whole index when a pass over the file already found it, else a
    // search near each time; leaves the file at its start like a scan.
    std::optional<std::vector<KeyFrameRecord>> GetKeyFramesAround(int streamIndex,
                                                                  const std::vector<int64_t>& times) override;
    bool KnownIdrKeyFrame(int streamIndex, int64_t time) override { return keyFrameRuns_.KnownIdr(streamIndex, time); }
    // May be called from another thread while a scan runs.
    void Cancel(int streamIndex) override { cancel_.store(1); }
    StreamMediaInfo* GetMediaInfo(int streamIndex) override;
    void FreeMediaInfo(StreamMediaInfo* info) override;

    // The index as it stands (also after a cancelled scan).
    const KeyFrameIndex* Index() const { return index_; }
    // Key-frame times are relative to the file's start (ticks).
    void SetTimeZero(int64_t ticks) {
        if (ticks != timeZero_) keyFrameRuns_ = {};  // their times are relative to the old start
        timeZero_ = ticks;
    }
    // Called after a scan has put the file back to its start, so that the
    // reader of the same file drops what it read ahead.
    void SetRewindListener(std::function<void()> listener) { rewound_ = std::move(listener); }
    // Where key frames found by a pass over the whole file are kept.
    void UseKeyFramesFound(std::shared_ptr<const FilePassKeyFrames> found) { keyFramesFound_ = std::move(found); }

private:
    void ReportProgress(int64_t percent);
    // Progress 100, the file back at its start, the reader told; the index
    // emptied and null when cancelled.
    KeyFrameIndex* FinishScan(int streamIndex, bool cancelled);

    AVFormatContext* format_ = nullptr;
    KeyFrameIndex* index_ = nullptr;
    int ready_ = 0;
    AnalyzeProgressCallback callback_ = nullptr;
    void* callbackContext_ = nullptr;
    std::atomic<int> cancel_{0};
    int64_t timeZero_ = 0;
    std::function<void()> rewound_;
    std::shared_ptr<const FilePassKeyFrames> keyFramesFound_;
    KeyFrameRuns keyFrameRuns_;  // what searches near times have read
};

}  // namespace kx
