#include "task/ClipGate.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

namespace kx {

namespace {
constexpr int64_t kToleranceTicks = 10'000;  // 1 ms: times converted between time bases
bool IsKey(const AVPacket* packet) { return (packet->flags & AV_PKT_FLAG_KEY) != 0; }
}  // namespace

ClipGate::ClipGate(const ClipBounds& bounds, const std::map<int, StreamKind>& streams) : bounds_(bounds) {
    for (const auto& [index, kind] : streams) {
        streams_[index].video = kind == StreamKind::kVideo;
        streams_[index].subtitle = kind == StreamKind::kSubtitle;
        hasVideo_ |= kind == StreamKind::kVideo;
    }
}

ClipGate::~ClipGate() { av_packet_free(&held_); }

bool ClipGate::AllDone() const {
    for (const auto& [index, state] : streams_)
        if (!state.done) return false;
    return true;
}

void ClipGate::EndFromHere(int64_t videoTime, int64_t otherTime) {
    bounds_.toFileEnd = false;
    bounds_.end = hasVideo_ ? videoTime : otherTime;
}

std::optional<int64_t> ClipGate::NextStart() const {
    if (bounds_.toFileEnd) return std::nullopt;
    if (!hasVideo_) return bounds_.end;
    return videoEnd_;
}

PacketFate ClipGate::Judge(const AVPacket* packet) {
    auto it = streams_.find(packet->stream_index);
    if (it == streams_.end()) return PacketFate::kSkip;
    StreamState& state = it->second;
    PacketFate fate = state.video ? JudgeVideo(packet, state) : JudgeOther(packet, state);
    if (fate == PacketFate::kSkip && AllDone()) return PacketFate::kClipDone;
    return fate;
}

PacketFate ClipGate::JudgeVideo(const AVPacket* packet, StreamState& state) {
    if (state.done) return PacketFate::kSkip;
    const int64_t pts = packet->pts;
    if (!videoStarted_) {
        // The reader stands at the start key frame (or at the very first packet).
        bool starts = bounds_.fromFileStart ||
                      (pts != AV_NOPTS_VALUE && pts >= bounds_.start - kToleranceTicks &&
                       (bounds_.anyFrame || IsKey(packet)));
        if (!starts) return PacketFate::kSkip;
        videoStarted_ = true;
        firstVideoPts_ = pts == AV_NOPTS_VALUE ? bounds_.start : pts;
        ++videoPackets_;
        return PacketFate::kWrite;
    }
    if (held_) {
        if (pts != AV_NOPTS_VALUE && pts < held_->pts) {
            // A leading picture of the end key frame: it needs that key frame.
            ++videoPackets_;
            if (heldWritten_) return PacketFate::kWrite;
            heldWritten_ = true;
            return PacketFate::kWriteHeldFirst;
        }
        // Shown at or after the end key frame: the reader goes in presentation
        // order, so every other stream has passed the end too.
        for (auto& [index, other] : streams_) other.done = true;
        return PacketFate::kSkip;
    }
    if (bounds_.anyFrame && !bounds_.toFileEnd && pts != AV_NOPTS_VALUE && pts >= bounds_.end - kToleranceTicks &&
        videoPackets_ >= bounds_.minVideoPackets) {
        // Any picture may start the next clip: it takes what is shown from
        // its end on; the group's key frame closes this clip's video.
        if (!videoEnd_) videoEnd_ = bounds_.end;
        if (IsKey(packet)) state.done = true;
        return PacketFate::kSkip;
    }
    if (!bounds_.toFileEnd && IsKey(packet) && pts != AV_NOPTS_VALUE && pts >= bounds_.end - kToleranceTicks &&
        videoPackets_ >= bounds_.minVideoPackets) {
        held_ = av_packet_clone(packet);
        videoEnd_ = pts;
        if (!held_) state.done = true;
        return PacketFate::kSkip;
    }
    // Leading pictures of the start key frame were taken by the clip before.
    if (!bounds_.fromFileStart && pts != AV_NOPTS_VALUE && pts < firstVideoPts_) return PacketFate::kSkip;
    ++videoPackets_;
    return PacketFate::kWrite;
}

PacketFate ClipGate::JudgeOther(const AVPacket* packet, StreamState& state) {
    if (state.done) return PacketFate::kSkip;
    const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (pts == AV_NOPTS_VALUE) return PacketFate::kWrite;  // nothing to judge by: keep it
    if (packet->duration > 0) state.lastDuration = packet->duration;
    const int64_t end = pts + state.lastDuration;
    if (!bounds_.fromFileStart) {
        const int64_t clipStart = videoStarted_ ? firstVideoPts_ : bounds_.start;
        if (end <= clipStart && !(state.lastDuration == 0 && pts >= clipStart)) return PacketFate::kSkip;
        if (bounds_.streamsStartTogether && !state.subtitle && pts < clipStart && clipStart - pts > end - clipStart)
            return PacketFate::kSkip;
        // A cue shown across the cut stays with the clip it starts in: a clip
        // cannot show it from before its own start (MP4 moves it later).
        if (state.subtitle && pts < clipStart - kToleranceTicks) return PacketFate::kSkip;
    }
    if (bounds_.toFileEnd) return PacketFate::kWrite;
    // Until the video reaches its end key frame, every packet handed out
    // sounds before it (the reader goes in presentation order).
    std::optional<int64_t> limit = videoEnd_;
    if (!hasVideo_) limit = bounds_.end;
    if (limit && pts >= *limit) {
        state.done = true;
        return PacketFate::kSkip;
    }
    return PacketFate::kWrite;
}

}  // namespace kx
