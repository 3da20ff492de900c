// Steps the three copy engines share.
#pragma once

#include <cstdint>
#include <vector>

#include "task/FileReaders.h"
#include "task/FileRecord.h"

struct AVPacket;

namespace kx {

// The capability flags of ITDemuxerControl::CheckSeekable.
constexpr int kCanSeekByTime = 2;
constexpr int kCanSeekByByte = 4;

class TaskHost;
class ITDemuxerControl;
struct DemuxerHolder;

// The key frames a key-frame cut snaps to: the whole index when it is
// known, else those found next to the task's cut times.
const std::vector<KeyFrameRecord>& CutKeyFrames(const FileRecord& file);

// Replaces t by the nearest key-frame time (a tie goes to the later one).
int64_t SnapToKeyFrame(const std::vector<KeyFrameRecord>& keyFrames, int64_t t);

// The output number of a source stream, or -1 (with a log line).
int64_t OutputNumberOf(const std::vector<SelectedStream>& streams, int64_t sourceIndex);

// The file's duration in ticks, from its media information; 0 when unknown.
int64_t FileDurationTicks(const FileRecord& file);

// Gives a file without clips one time clip over its whole duration.
void EnsureDefaultClip(FileRecord& file);

// Makes sure the reader holds a sample before the first GetPacket (a clip
// that is not positioned starts where the reader stands).
void EnsureHeldSample(ITDemuxerControl* control);

// The reader a split or merge clip copies from, after the checks and log
// lines every clip starts with; null (logged) when the clip cannot start.
ITDemuxerControl* BeginClip(const TaskCursor* cursor, const char16_t* path, bool hasOutput, DemuxerHolder* holder,
                            const ClipRange& range);

// What the split and merge engines count while they copy one clip.
struct ClipCounters {
    int64_t lastPts = -1;  // re-based pts of the last written packet that had one
    int64_t bytes = 0;     // payload written
    int64_t videoPackets = 0;
};

enum class NextPacket { kGot, kStopped, kRanOut };

// The per-packet protocol's first steps: wait while paused, honour a stop,
// then take the reader's packet (logging when the input has run out).
NextPacket TakeNextPacket(TaskHost& host, ITDemuxerControl* control, AVPacket* packet,
                          const ClipCounters& counters);

// The end test of a size clip before a packet is written, with its log line:
// the clip has written its size. (Time clips end by their ClipGate.)
bool SizeClipEndReached(const ClipTask& clip, const ClipCounters& counters);

// The smaller of a packet's pts and dts (AV_NOPTS_VALUE when either is unknown).
int64_t EarliestTimestamp(const AVPacket* packet);

// An owned packet for the engine loop.
class EnginePacket {
public:
    EnginePacket();
    ~EnginePacket();
    EnginePacket(const EnginePacket&) = delete;
    EnginePacket& operator=(const EnginePacket&) = delete;
    AVPacket* get() const { return packet_; }
    AVPacket* operator->() const { return packet_; }
    void Unref();

private:
    AVPacket* packet_;
};

// Positions a reader at a time clip's start by reading forward: the first
// packet of a video output stream (kind map) at or after start, and a key
// frame unless any frame may start a clip. The packet stays held. Returns
// false when the input ran out first. The kind map is keyed by output number;
// streams gives each source stream's.
bool ScanToClipStart(ITDemuxerControl* control, const std::map<int64_t, StreamKind>& kinds, int64_t start,
                     CutPlacement placement, const std::vector<SelectedStream>& streams);

}  // namespace kx
