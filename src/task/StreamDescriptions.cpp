#include "task/StreamDescriptions.h"


namespace kx {

DescriptionPtr DescribeStream(ITAnalyze* analyze, int64_t streamIndex) {
    if (!analyze) return DescriptionPtr(nullptr, DescriptionDeleter{nullptr});
    return DescriptionPtr(analyze->GetMediaInfo(static_cast<int>(streamIndex)), DescriptionDeleter{analyze});
}

StreamPairDescriptions DescribeFirstTwoStreams(FileRecord& file, ITAnalyze* analyze) {
    StreamPairDescriptions pair;
    size_t count = std::min<size_t>(2, file.selectedStreams.size());
    for (size_t i = 0; i < count; ++i) {
        const SelectedStream& stream = file.selectedStreams[i];
        if (stream.kind == StreamKind::kAudio)
            pair.audio = DescribeStream(analyze, stream.streamIndex);
        else if (stream.kind == StreamKind::kVideo)
            pair.video = DescribeStream(analyze, stream.streamIndex);
    }
    return pair;
}

}  // namespace kx
