// One open file read once for the readers of several of its streams.
//
// Each stream has a lane: the packets read for it ahead of its reader wait
// in a small queue, in file order, while the packets of the other streams go
// to theirs. A seek moves the file for every lane; a lane that was not to
// move skips again, by its marker, what its reader was already given, so
// that its reader goes on as if it had the file to itself. Readers ask for
// packets in presentation order; where one stream's packets lie far from the
// others' in the file (a badly interleaved file: all its sound at the end,
// say), waiting for them would queue much of the file for the other lanes.
// The starved lane then reads from a second open of the file, of its own,
// rather than letting the queues grow past kMaxQueuedBytes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "input/InputOpen.h"
#include "input/PacketFeed.h"
#include "input/PacketMarker.h"
#include "input/PacketTimeFill.h"

struct AVFormatContext;

namespace kx {

class SharedInput {
public:
    static constexpr size_t kMaxQueuedBytes = 16u << 20;
    static constexpr size_t kPacketOverhead = 256;  // what a queued packet costs besides its payload
    static constexpr int kStartProbePackets = 512;  // read to find every lane's first packet

    // Takes the context (opened by OpenInput for the source, nothing read
    // from it yet). fillTimes: packet mode's time filling.
    SharedInput(AVFormatContext* context, InputSource source, bool fillTimes);
    ~SharedInput();
    SharedInput(const SharedInput&) = delete;
    SharedInput& operator=(const SharedInput&) = delete;

    AVFormatContext* Context() const { return context_; }
    const InputSource& Source() const { return source_; }

    // The lane of a stream, made on first asking (from then on the stream is
    // read); owned here.
    PacketFeed* LaneOf(int streamIndex);
    int LaneCount() const { return static_cast<int>(lanes_.size()); }

    // The lanes of these streams take the place that the next seeks of other
    // lanes reach (the sound follows the video's seek), instead of keeping
    // their own.
    void SetFollowers(const std::vector<int>& streams);
    // True when the lane followed a seek since SetFollowers; from now on it
    // keeps its place.
    bool StopFollowing(int streamIndex);
    void ClearFollowers() { followers_.clear(); }
    // A seek for the followers alone: every other lane keeps its place.
    int SeekFollowersBy(int streamIndex, int64_t timestamp, int flags);
    // Whether the lane reads from a second open.
    bool ReadsApart(int streamIndex) const;

    // Every lane back to the first packet of its stream, by one seek of the
    // stream that starts first. av_seek_frame's result.
    int RewindAll();

    // How many lanes read from a second open of the file; what waits in the queues.
    int SecondOpens() const { return secondOpens_; }
    size_t QueuedBytes() const { return queuedBytes_; }
    size_t PeakQueuedBytes() const { return peakQueuedBytes_; }

private:
    class Lane;
    friend class Lane;
    enum class PumpResult { kRead, kOverflow };

    // Reads one packet into the lane of its stream; kOverflow when the
    // queues of lanes other than the asking one have grown too long.
    PumpResult Pump(Lane& asking);
    // asking: the lane that seeks (null: only the followers move).
    int SeekFor(Lane* asking, int streamIndex, int64_t timestamp, int flags);
    bool AfterScan(Lane& asking);
    // Gives the lane a second open of the file, placed where its reader is.
    int Detach(Lane& lane);
    void ClearQueue(Lane& lane);
    // Puts the file at the start for as many lanes as one seek allows (tried
    // by the stream of each lane in turn: whether a container's seek takes
    // the other streams along by time or by byte position differs); the
    // lanes whose first packet it misses are lost and read from a second open.
    int SeekToStartForAll();
    // Where each lane's first packet comes after a seek to the start by the stream.
    std::map<int, PacketMarker> FirstPacketsAfterSeekBy(int streamIndex, int* result);
    int SeekByToStart(int streamIndex);
    // Lanes read from the shared file, earliest start time first.
    std::vector<int> SharedLanesByStartTime() const;

    AVFormatContext* context_;
    InputSource source_;
    bool fillTimes_;
    PacketTimeFill fill_;
    std::map<int, std::unique_ptr<Lane>> lanes_;
    std::set<int> followers_;
    size_t queuedBytes_ = 0;
    size_t peakQueuedBytes_ = 0;
    bool ended_ = false;
    int endResult_ = 0;
    int secondOpens_ = 0;
};

}  // namespace kx
