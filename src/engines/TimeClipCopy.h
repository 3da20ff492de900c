// The copy loop of a time clip, shared by the split and the merge engine.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "converter/FileRecord.h"
#include "engines/ClipBounds.h"
#include "engines/ClipGate.h"
#include "engines/CopySteps.h"

struct AVPacket;

namespace kx {

class CStreamwright;
class ITDemuxerControl;

enum class ClipOutcome { kStopped, kRanOut, kEnded };

// Source stream index -> is video, for the file's selected streams.
std::map<int, bool> VideoFlagsOf(const std::vector<SelectedStream>& streams);

// Puts the reader where the clip's first packet is: the very first packet of
// the file for a clip that takes the file's start (or a reader that cannot
// seek; the gate then skips forward), else the start key frame.
void PositionForTimeClip(ITDemuxerControl* control, const ClipBounds& bounds, int capabilities);

// Reads packets and hands those the gate lets through to `write` (times not
// yet re-based); ends when the gate says the clip is done, the input runs out
// or the host stops the task.
ClipOutcome CopyTimeClip(CStreamwright& converter, ITDemuxerControl* control, ClipGate& gate,
                         const ClipCounters& counters, const std::function<void(AVPacket*)>& write);

}  // namespace kx
