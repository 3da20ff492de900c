// Stream descriptions taken from a file's analysis, released on scope exit.
#pragma once

#include <memory>

#include "input/ITDemuxer.h"
#include "output/MediaStreamPair.h"
#include "task/FileReaders.h"
#include "task/FileRecord.h"

namespace kx {

struct DescriptionDeleter {
    ITAnalyze* analyze = nullptr;
    void operator()(StreamMediaInfo* info) const {
        if (analyze && info) analyze->FreeMediaInfo(info);
    }
};
using DescriptionPtr = std::unique_ptr<StreamMediaInfo, DescriptionDeleter>;

// The description of one source stream (null when the analysis has none).
DescriptionPtr DescribeStream(ITAnalyze* analyze, int64_t streamIndex);

// The audio and video descriptions of a file's first two selected streams:
// audio fills the audio place, video the video place, a later one replacing
// an earlier of the same kind.
struct StreamPairDescriptions {
    DescriptionPtr audio;
    DescriptionPtr video;
    MediaStreamPair Pair() const { return MediaStreamPair{audio.get(), video.get()}; }
};
StreamPairDescriptions DescribeFirstTwoStreams(FileRecord& file, ITAnalyze* analyze);

}  // namespace kx
