// The copy loop of a time clip, shared by the split and the merge engine.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "task/ClipBounds.h"
#include "task/ClipGate.h"
#include "task/CopySteps.h"
#include "task/FileRecord.h"

struct AVPacket;

namespace kx {

class TaskHost;
class ITDemuxerControl;
class OpenKeyClipStart;

enum class ClipOutcome { kStopped, kRanOut, kEnded };

// Source stream index -> what it carries, for the file's selected streams.
std::map<int, StreamKind> StreamKindsOf(const std::vector<SelectedStream>& streams);

// Puts the reader where the clip's first packet is: the very first packet of
// the file for a clip that takes the file's start (or a reader that cannot
// seek; the gate then skips forward), else the start key frame.
void PositionForTimeClip(ITDemuxerControl* control, const ClipBounds& bounds, int capabilities);

// Reads packets and hands those the gate lets through to `write` (times not
// yet re-based); ends when the gate says the clip is done, the input runs out
// or the host stops the task. `openStart`, when the clip starts at an open
// group's key frame, rewrites the video packets first.
ClipOutcome CopyTimeClip(TaskHost& host, ITDemuxerControl* control, ClipGate& gate,
                         const ClipCounters& counters, const std::function<void(AVPacket*)>& write,
                         OpenKeyClipStart* openStart = nullptr);

// How far before its start a clip reaches, 0 or more: pictures hidden by an
// edit list that its first key frame needs count, and sound before them
// counts less its first packet's duration, as sound may overlap a join by
// one packet. Reads from where the reader stands (after PositionForTimeClip)
// and leaves it past the clip's start: position it again before copying.
int64_t ClipLeadBeforeStart(TaskHost& host, ITDemuxerControl* control, const ClipBounds& bounds,
                            const std::map<int, StreamKind>& streams, const ClipCounters& counters);

}  // namespace kx
