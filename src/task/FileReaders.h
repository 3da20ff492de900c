// The readers of a file's reading side, each null when the file has none.
#pragma once

#include "task/FileRecord.h"

namespace kx {

class ITAnalyze;
class ITDemuxer;
class ITDemuxerControl;
struct FileSummary;

ITDemuxer* DemuxerOf(const FileRecord& file);
ITDemuxerControl* ControlOf(const FileRecord& file);
ITAnalyze* AnalyzeOf(const FileRecord& file);
// The file's first selected video stream, null when none is selected.
const SelectedStream* FirstVideoStream(const FileRecord& file);
// Every stream's tags, the file's tags and chapters (null without a description).
const FileSummary* SummaryOf(const FileRecord& file);

}  // namespace kx
