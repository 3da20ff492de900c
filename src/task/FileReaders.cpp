#include "task/FileReaders.h"

#include "input/CTMediaInfo.h"

#include "input/DemuxerHolder.h"
#include "input/ITDemuxer.h"

namespace kx {

ITDemuxer* DemuxerOf(const FileRecord& file) { return file.input ? file.input->demuxer : nullptr; }

ITDemuxerControl* ControlOf(const FileRecord& file) {
    ITDemuxer* demuxer = DemuxerOf(file);
    return demuxer ? demuxer->GetControl() : nullptr;
}

ITAnalyze* AnalyzeOf(const FileRecord& file) {
    ITDemuxer* demuxer = DemuxerOf(file);
    return demuxer ? demuxer->GetAnalyze() : nullptr;
}

const SelectedStream* FirstVideoStream(const FileRecord& file) {
    for (const auto& stream : file.selectedStreams)
        if (stream.kind == StreamKind::kVideo) return &stream;
    return nullptr;
}

const FileSummary* SummaryOf(const FileRecord& file) {
    if (!file.input || !file.input->mediaInfo) return nullptr;
    return &file.input->mediaInfo->Summary();
}

}  // namespace kx
