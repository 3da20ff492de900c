// The key frames a frame-exact cut relies on, read from the source before
// anything is written: where the head decodes from, the first copied one
// (an IDR picture, or an open group's key frame the copy can rewrite into
// one), where copying ends and where the tail decodes from.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "output/H264OpenKeySplice.h"
#include "task/EdgeCutPlan.h"
#include "task/EdgeSource.h"
#include "task/FileRecord.h"

namespace kx::edgecut {

// The key frames a plan relies on, as the reader finds them: the head's,
// the first copied one (H.264: an IDR picture, as only one may switch to the
// copied pictures' parameter sets), the one copying ends at and the tail's.
struct PlanKeys {
    std::optional<KeyPacket> head, copy, end, tail;
    std::string problem;  // why the plan cannot be kept; empty when it can
    bool stopped = false;
};

struct Lookup {
    std::optional<KeyPacket> key;
    bool stopped = false;
};

// Reads from the key frame at `time` until its packet, collecting the
// parameter-set ids the packets on the way carry.
Lookup ReadKeyFrame(TaskHost& host, ITDemuxerControl* control, const VideoSource& video, int64_t time, bool canSeek,
                    SourceSetIds* ids);

// Whether the H.264 pictures from the open key frame at `key` can be carried
// over with the key frame made an IDR picture (up to the decoding time
// `clipEnd`): their references are followed until they can no longer differ.
// Empty when they can; the copy follows them the same way again. Reads on
// from where ReadKeyFrame left the reader, at that key frame.
std::string CheckOpenKeySplice(TaskHost& host, ITDemuxerControl* control, const VideoSource& video, int64_t key,
                               int64_t clipEnd, bool* stopped);

// Reads the plan's key frames, collecting the parameter-set ids on the way.
// Moves the plan's first copied key frame on where it has to be an IDR
// picture and cannot be made one.
PlanKeys ReadPlanKeys(TaskHost& host, ITDemuxerControl* control, const FileRecord& file, EdgeCutPlan& plan,
                      const VideoSource& video, bool canSeek, SourceSetIds* ids);

// The rewriting of an open H.264 key frame and the pictures after it.
std::unique_ptr<H264OpenKeySplice> SpliceFor(const VideoSource& video);

// Passes one packet through the rewriting (`leftOut`: a leading picture that
// is not written), its payload replaced where it changes; the problem when
// it cannot be carried over, else empty.
std::string SplicePacket(H264OpenKeySplice& splice, AVPacket* packet, bool leftOut);

}  // namespace kx::edgecut
