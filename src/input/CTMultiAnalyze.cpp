#include "input/CTMultiAnalyze.h"

#include "input/MediaInfoBuilder.h"

namespace kx {

ITAnalyze* CTMultiAnalyze::AnalyzeOf(int streamIndex) {
    if (!readers_) return nullptr;
    auto it = readers_->find(streamIndex);
    if (it == readers_->end() || !it->second.reader) return nullptr;
    return it->second.reader->GetAnalyze();
}

int CTMultiAnalyze::SetProgressCallback(int streamIndex, AnalyzeProgressCallback callback, void* context) {
    ITAnalyze* analyze = AnalyzeOf(streamIndex);
    return analyze ? analyze->SetProgressCallback(streamIndex, callback, context) : 0;
}

KeyFrameIndex* CTMultiAnalyze::GetKeyFrameIndex(int streamIndex) {
    ITAnalyze* analyze = AnalyzeOf(streamIndex);
    return analyze ? analyze->GetKeyFrameIndex(streamIndex) : nullptr;
}

std::optional<std::vector<KeyFrameRecord>> CTMultiAnalyze::GetKeyFramesAround(int streamIndex,
                                                                              const std::vector<int64_t>& times) {
    ITAnalyze* analyze = AnalyzeOf(streamIndex);
    return analyze ? analyze->GetKeyFramesAround(streamIndex, times) : std::nullopt;
}

bool CTMultiAnalyze::KnownIdrKeyFrame(int streamIndex, int64_t time) {
    ITAnalyze* analyze = AnalyzeOf(streamIndex);
    return analyze && analyze->KnownIdrKeyFrame(streamIndex, time);
}

void CTMultiAnalyze::Cancel(int streamIndex) {
    if (ITAnalyze* analyze = AnalyzeOf(streamIndex)) analyze->Cancel(streamIndex);
}

StreamMediaInfo* CTMultiAnalyze::GetMediaInfo(int streamIndex) {
    ITAnalyze* analyze = AnalyzeOf(streamIndex);
    return analyze ? analyze->GetMediaInfo(streamIndex) : nullptr;
}

void CTMultiAnalyze::FreeMediaInfo(StreamMediaInfo* info) { FreeStreamMediaInfo(info); }

}  // namespace kx
