// Decides, packet by packet in the reader's order, what one time clip takes.
//
// Video: from the start key frame up to the key frame that starts the next
// clip, in decoding order. Pictures that follow a key frame in decoding order
// but are shown before it (the leading pictures of an open group) belong to
// the clip before: that clip also takes the key frame they refer to, so the
// key frame is shown at the end of one clip and the start of the next, and
// the next clip drops them. Audio and other streams: every packet that sounds
// inside the clip, by its own time, so a packet across a cut goes to both
// clips. This relies on the reader handing out packets of different streams
// in presentation order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "task/ClipBounds.h"
#include "task/TaskKinds.h"

struct AVPacket;

namespace kx {

enum class PacketFate {
    kWrite,         // write this packet
    kWriteHeldFirst,  // write the held key frame (HeldKeyFrame), then this packet
    kSkip,          // not part of the clip
    kClipDone,      // every stream is done: end the clip before this packet
};

class ClipGate {
public:
    // streams: source stream index -> what it carries.
    ClipGate(const ClipBounds& bounds, const std::map<int, StreamKind>& streams);
    ~ClipGate();
    ClipGate(const ClipGate&) = delete;
    ClipGate& operator=(const ClipGate&) = delete;

    PacketFate Judge(const AVPacket* packet);

    // The end key frame kept back until it is known whether leading pictures
    // follow it; valid while Judge's answer is kWriteHeldFirst.
    AVPacket* HeldKeyFrame() const { return held_; }

    // File time that becomes 0 in the clip.
    int64_t Zero() const { return bounds_.fromFileStart ? 0 : bounds_.start; }

    // For a clip whose end is found while copying (it was made to run to the
    // end of the file): it now ends at the first key frame shown at or after
    // `videoTime`, or, without video, before the first packet from
    // `otherTime` on.
    void EndFromHere(int64_t videoTime, int64_t otherTime);
    // Where the next clip starts once this one has ended by EndFromHere.
    std::optional<int64_t> NextStart() const;
    const ClipBounds& Bounds() const { return bounds_; }

private:
    struct StreamState {
        bool video = false;
        bool subtitle = false;
        bool done = false;
        int64_t lastDuration = 0;
    };
    PacketFate JudgeVideo(const AVPacket* packet, StreamState& state);
    PacketFate JudgeOther(const AVPacket* packet, StreamState& state);
    bool AllDone() const;

    ClipBounds bounds_;
    std::map<int, StreamState> streams_;
    bool hasVideo_ = false;
    bool videoStarted_ = false;
    int64_t firstVideoPts_ = 0;
    int64_t videoPackets_ = 0;
    // The end key frame: its pts bounds every other stream once it is seen.
    std::optional<int64_t> videoEnd_;
    AVPacket* held_ = nullptr;
    bool heldWritten_ = false;
};

}  // namespace kx
