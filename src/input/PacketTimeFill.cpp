#include "input/PacketTimeFill.h"

#include <algorithm>
#include <cstdlib>
#include <set>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace kx {

namespace {

int ReadFrameRetryOnce(AVFormatContext* format, AVPacket* packet) {
    int result = av_read_frame(format, packet);
    if (result == AVERROR(EAGAIN)) result = av_read_frame(format, packet);
    return result;
}

bool Missing(int64_t time) { return time == AV_NOPTS_VALUE; }

bool Usable(AVRational r) { return r.num > 0 && r.den > 0; }

// One frame of a video stream in its time base; 0 when the rates do not say.
int64_t FrameStep(const AVStream* stream) {
    const AVRational rate = Usable(stream->avg_frame_rate) ? stream->avg_frame_rate : stream->r_frame_rate;
    if (!Usable(rate) || !Usable(stream->time_base)) return 0;
    return av_rescale_q(1, av_inv_q(rate), stream->time_base);
}

// One packet of an audio stream whose codec has fixed frames; 0 otherwise.
int64_t SoundStep(const AVStream* stream) {
    const AVCodecParameters* codec = stream->codecpar;
    if (codec->frame_size <= 0 || codec->sample_rate <= 0 || !Usable(stream->time_base)) return 0;
    return av_rescale_q(codec->frame_size, AVRational{1, codec->sample_rate}, stream->time_base);
}

int64_t DurationOr(const AVPacket* packet, int64_t step) { return packet->duration > 0 ? packet->duration : step; }

}  // namespace

PacketTimeFill::~PacketTimeFill() {
    for (auto& held : held_) av_packet_free(&held.packet);
}

void PacketTimeFill::Reset() {
    for (auto& held : held_) av_packet_free(&held.packet);
    held_.clear();
    ended_ = false;
    for (auto& [index, state] : streams_) {
        // What the stream is stays; what was read is forgotten. Parameter
        // sets are kept: after a seek they may come only with the next key frame.
        StreamState fresh;
        fresh.rule = state.rule;
        fresh.step = state.step;
        fresh.reordered = state.reordered;
        fresh.form = state.form;
        fresh.order = std::move(state.order);
        if (fresh.order) fresh.order->Reset();
        state = std::move(fresh);
    }
}

PacketTimeFill::StreamState& PacketTimeFill::StateOf(int streamIndex) {
    auto it = streams_.find(streamIndex);
    if (it != streams_.end()) return it->second;
    StreamState& state = streams_[streamIndex];
    if (streamIndex < 0 || streamIndex >= static_cast<int>(format_->nb_streams)) return state;
    const AVStream* stream = format_->streams[streamIndex];
    const AVCodecParameters* codec = stream->codecpar;
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
        state.step = FrameStep(stream);
        state.reordered = codec->video_delay > 0;
        state.rule = FillRule::kDecodingSteps;
        if (codec->codec_id == AV_CODEC_ID_H264) {
            state.rule = FillRule::kPictureOrder;
            state.form = H264FormOfStream(codec);
            state.order = std::make_unique<H264PictureOrder>();
            if (codec->extradata && codec->extradata_size > 0)
                state.order->TakeExtradata(codec->extradata, static_cast<size_t>(codec->extradata_size));
        }
    } else if (codec->codec_type == AVMEDIA_TYPE_AUDIO) {
        state.rule = FillRule::kSoundSteps;
        state.step = SoundStep(stream);
    }
    return state;
}

int PacketTimeFill::Read(AVPacket* packet) {
    for (;;) {
        if (!held_.empty() && held_.front().settled) {
            av_packet_move_ref(packet, held_.front().packet);
            av_packet_free(&held_.front().packet);
            held_.pop_front();
            return 0;
        }
        if (ended_) {
            if (held_.empty()) return endResult_;
            Settle(held_.size());  // nothing more will come: settle with what is known
            continue;
        }
        AVPacket* read = av_packet_alloc();
        if (!read) return AVERROR(ENOMEM);
        const int result = ReadFrameRetryOnce(format_, read);
        if (result < 0) {
            av_packet_free(&read);
            ended_ = true;
            endResult_ = result;
            continue;
        }
        Take(read);
        Settle(held_.size() > kMaxHeld ? held_.size() - kMaxHeld : 0);
    }
}

void PacketTimeFill::Take(AVPacket* packet) {
    StreamState& state = StateOf(packet->stream_index);
    Held held;
    held.packet = packet;
    held.number = state.read++;
    held.fill = state.rule != FillRule::kNone && Missing(packet->pts) && Missing(packet->dts);
    if (state.order) {
        // Every picture is read, timed or not: the count of one depends on
        // the pictures before it.
        const auto picture = state.order->Next(packet->data, static_cast<size_t>(std::max(packet->size, 0)), state.form);
        if (picture) {
            if (picture->startsSequence) {
                ++state.sequence;
                state.firstOrder[state.sequence] = picture->order;
            }
            held.order = picture->order;
        }
    }
    held.sequence = state.sequence;
    if (state.rule == FillRule::kPictureOrder) {
        for (size_t k = held_.size(); k-- > 0;) {
            Held& before = held_[k];
            if (before.packet->stream_index != packet->stream_index) continue;
            if (before.confirmed) break;
            // The same times twice: they belong to the later picture.
            if (!Missing(packet->pts) && !Missing(packet->dts) && before.packet->pts == packet->pts &&
                before.packet->dts == packet->dts) {
                before.packet->pts = before.packet->dts = AV_NOPTS_VALUE;
                before.fill = true;
            }
            Confirm(before, state);
            break;
        }
        held.confirmed = false;
    }
    held_.push_back(held);
}

void PacketTimeFill::Confirm(Held& held, StreamState& state) {
    held.confirmed = true;
    const AVPacket* packet = held.packet;
    if (!held.order || Missing(packet->pts)) return;
    auto& anchors = state.anchors[held.sequence];
    if (!anchors.empty()) {
        // The time one count step stands for, from two pictures of known time.
        const int64_t steps = *held.order - anchors.back().order;
        const int64_t time = packet->pts - anchors.back().pts;
        if (steps != 0 && time != 0 && (steps > 0) == (time > 0)) {
            state.unitTime = std::llabs(time);
            state.unitOrder = std::llabs(steps);
        }
    }
    anchors.push_back(Anchor{*held.order, packet->pts});
    // A sequence may last the whole file (open groups have no IDR): the
    // pictures still to be timed are near the last ones read.
    if (anchors.size() > kAnchorsKept) anchors.pop_front();
}

template <typename Has>
std::optional<size_t> PacketTimeFill::NextOfStream(size_t at, Has has) const {
    const int stream = held_[at].packet->stream_index;
    for (size_t k = at + 1; k < held_.size(); ++k)
        if (held_[k].packet->stream_index == stream && has(held_[k])) return k;
    return std::nullopt;
}

void PacketTimeFill::Settle(size_t forced) {
    // A stream's packets settle in their order: each one's times build on
    // the one before it.
    std::set<int> waiting;
    for (size_t at = 0; at < held_.size(); ++at) {
        Held& held = held_[at];
        if (held.settled || waiting.count(held.packet->stream_index)) continue;
        if (!SettleOne(at, at < forced)) waiting.insert(held.packet->stream_index);
    }
}

bool PacketTimeFill::SettleOne(size_t at, bool force) {
    Held& held = held_[at];
    StreamState& state = StateOf(held.packet->stream_index);
    if (!held.confirmed) {
        if (!force) return false;
        Confirm(held, state);
    }
    if (held.fill) {
        switch (state.rule) {
            case FillRule::kPictureOrder:
            case FillRule::kDecodingSteps:
                if (Missing(held.packet->dts) && !FillDts(at, state, force)) return false;
                if (Missing(held.packet->pts) && !FillPictureTime(at, state, force)) return false;
                DecodeBeforeShown(held.packet, state);
                break;
            case FillRule::kSoundSteps:
                if (!FillSoundTime(at, state, force)) return false;
                break;
            case FillRule::kNone:
                break;
        }
    }
    Record(held, state);
    held.settled = true;
    return true;
}

void PacketTimeFill::DecodeBeforeShown(AVPacket* packet, const StreamState& state) {
    if (Missing(packet->pts) || Missing(packet->dts) || packet->dts <= packet->pts) return;
    // Two estimates that disagree (uneven frame spacing): the decoding time
    // gives way as far as it still rises, the presentation time the rest.
    if (state.lastDts) packet->dts = std::max(packet->pts, *state.lastDts + 1);
    if (packet->dts > packet->pts) packet->pts = packet->dts;
}

bool PacketTimeFill::FillDts(size_t at, StreamState& state, bool force) {
    Held& held = held_[at];
    const auto next = NextOfStream(at, [](const Held& h) { return !Missing(h.packet->dts); });
    if (!next && !force) return false;
    // Times the picture after it may still claim (the same times twice) are
    // no anchor yet: wait until that picture is read.
    if (next && !held_[*next].confirmed && !force) return false;
    const int64_t sinceLast = held.number - state.lastDtsNumber;
    if (next) {
        const Held& after = held_[*next];
        const int64_t known = after.packet->dts;
        if (state.lastDts && known > *state.lastDts) {
            // Spread evenly between the known neighbours: whole frame steps
            // at a constant rate, and never past the next known time.
            held.packet->dts =
                *state.lastDts + av_rescale(known - *state.lastDts, sinceLast, after.number - state.lastDtsNumber);
            return true;
        }
        if (state.step > 0 && !state.lastDts) {
            held.packet->dts = known - (after.number - held.number) * state.step;
            return true;
        }
    }
    if (state.lastDts && state.step > 0) held.packet->dts = *state.lastDts + sinceLast * state.step;
    return true;  // nothing to go by: left without
}

bool PacketTimeFill::FillPictureTime(size_t at, StreamState& state, bool force) {
    Held& held = held_[at];
    AVPacket* packet = held.packet;
    int64_t unitTime = state.unitTime;
    int64_t unitOrder = state.unitOrder;
    if (unitOrder == 0 && state.step > 0) {
        unitTime = state.step;  // encoders count two steps per frame
        unitOrder = 2;
    }
    if (state.rule != FillRule::kPictureOrder || !held.order || unitOrder == 0) {
        if (!state.reordered) packet->pts = packet->dts;  // shown when decoded
        return true;
    }
    const int64_t order = *held.order;
    // Pictures of known time shown just before and just after this one.
    const Anchor* before = nullptr;
    const Anchor* after = nullptr;
    if (auto anchors = state.anchors.find(held.sequence); anchors != state.anchors.end()) {
        for (const Anchor& anchor : anchors->second) {
            if (anchor.order <= order && (!before || anchor.order > before->order)) before = &anchor;
            if (anchor.order >= order && (!after || anchor.order < after->order)) after = &anchor;
        }
    }
    if (before && after) {
        // Between the two: exact at a constant rate, and in display order
        // when the spacing varies.
        packet->pts = after->order == before->order
                          ? before->pts
                          : before->pts + av_rescale(after->pts - before->pts, order - before->order,
                                                     after->order - before->order);
        return true;
    }
    // The one shown after it is usually read a few pictures later; the next
    // sequence or a long wait leaves the step from the one known side.
    const bool sequenceOver = force || NextOfStream(at, [&](const Held& h) { return h.sequence != held.sequence; });
    const bool waitedEnough = state.read - held.number > kPicturesAwaited;
    if (!sequenceOver && !waitedEnough) return false;
    if (before || after) {
        const Anchor* known = before ? before : after;
        packet->pts = known->pts + av_rescale(order - known->order, unitTime, unitOrder);
        return true;
    }
    if (!sequenceOver) return false;
    // Every picture of a sequence is shown after those of the one before.
    const auto end = state.shownEnd.find(held.sequence - 1);
    const auto first = state.firstOrder.find(held.sequence);
    if (end != state.shownEnd.end() && first != state.firstOrder.end())
        packet->pts = end->second + av_rescale(order - first->second, unitTime, unitOrder);
    else if (!state.reordered)
        packet->pts = packet->dts;
    return true;
}

bool PacketTimeFill::FillSoundTime(size_t at, StreamState& state, bool force) {
    AVPacket* packet = held_[at].packet;
    if (state.soundEnd) {
        packet->pts = packet->dts = *state.soundEnd;
        return true;
    }
    // The first packets after a seek: back from the next known time.
    const auto next = NextOfStream(at, [](const Held& h) { return !Missing(h.packet->pts) || !Missing(h.packet->dts); });
    if (!next) return force;
    const AVPacket* after = held_[*next].packet;
    int64_t time = Missing(after->pts) ? after->dts : after->pts;
    for (size_t k = at; k < *next; ++k) {
        const AVPacket* between = held_[k].packet;
        if (between->stream_index != packet->stream_index) continue;
        const int64_t duration = DurationOr(between, state.step);
        if (duration <= 0) return true;  // cannot count back: left without
        time -= duration;
    }
    packet->pts = packet->dts = time;
    return true;
}

void PacketTimeFill::Record(const Held& held, StreamState& state) {
    const AVPacket* packet = held.packet;
    if (!Missing(packet->dts)) {
        state.lastDts = packet->dts;
        state.lastDtsNumber = held.number;
    }
    if (state.rule == FillRule::kSoundSteps) {
        const int64_t time = Missing(packet->pts) ? packet->dts : packet->pts;
        const int64_t duration = DurationOr(packet, state.step);
        if (!Missing(time) && duration > 0)
            state.soundEnd = time + duration;
        else
            state.soundEnd.reset();
        return;
    }
    if (!state.order) return;
    if (!Missing(packet->pts)) {
        const int64_t end = packet->pts + DurationOr(packet, state.step);
        auto [it, added] = state.shownEnd.emplace(held.sequence, end);
        if (!added && end > it->second) it->second = end;
    }
    // Only this sequence and the one before it are still asked about.
    state.anchors.erase(state.anchors.begin(), state.anchors.lower_bound(held.sequence - 1));
    state.shownEnd.erase(state.shownEnd.begin(), state.shownEnd.lower_bound(held.sequence - 1));
    state.firstOrder.erase(state.firstOrder.begin(), state.firstOrder.lower_bound(held.sequence - 1));
}

}  // namespace kx
