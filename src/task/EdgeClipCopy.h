// A split's time clip that starts and ends at exactly the pictures asked
// for: the pictures between a cut and the nearest key frame inside the clip
// are decoded and encoded again (PictureReencoder), everything else is
// copied; sound and subtitles are cut by time as in any split.
#pragma once

#include <functional>
#include <map>
#include <optional>

#include "task/ClipBounds.h"
#include "task/CopySteps.h"
#include "task/FileRecord.h"
#include "task/TimeClipCopy.h"

class CTMuxer;

namespace kx {

class TaskHost;
class ITDemuxerControl;

struct EdgeClipJob {
    ITDemuxerControl* control = nullptr;
    FileRecord* file = nullptr;
    ClipRange range{};
    CTMuxer* output = nullptr;
    int capabilities = 0;
    ClipCounters* counters = nullptr;
    std::function<void()> reportProgress;
    ClipCutReport* report = nullptr;
};

struct EdgeClipEnd {
    ClipOutcome outcome = ClipOutcome::kEnded;
    ClipBounds bounds;  // where the clip lies in the file, for its chapters
    int64_t zero = 0;   // file time that became 0
};

// Copies the clip; none when nothing was written and the clip is to be cut
// at key frames instead: then the report says why, or, when no picture needed
// encoding, nothing (the key-frame cut is the exact one).
std::optional<EdgeClipEnd> CopyClipWithEncodedEdges(TaskHost& host, const EdgeClipJob& job);

}  // namespace kx
