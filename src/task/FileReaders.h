// The readers of a file's reading side, each null when the file has none.
#pragma once

#include "task/FileRecord.h"

namespace kx {

class ITAnalyze;
class ITDemuxer;
class ITDemuxerControl;

ITDemuxer* DemuxerOf(const FileRecord& file);
ITDemuxerControl* ControlOf(const FileRecord& file);
ITAnalyze* AnalyzeOf(const FileRecord& file);

}  // namespace kx
