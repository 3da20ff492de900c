#include "input/SharedInput.h"

#include <algorithm>
#include <deque>
#include <optional>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/ContextFeed.h"
#include "input/FileStart.h"
#include "input/PacketMarker.h"

namespace kx {

namespace {

// How a lane was last put in place, so that a second open can be put there too.
struct LanePosition {
    bool fromStart = true;
    int streamIndex = 0;
    int64_t timestamp = 0;
    int flags = 0;
};

enum class LanePlace {
    kFollowing,   // takes every packet of its stream
    kCatchingUp,  // skips its stream's packets up to and including its marker
    kLost,        // the file went past its marker: only a second open can place it
};

size_t CostOf(const AVPacket* packet) {
    return static_cast<size_t>(std::max(packet->size, 0)) + SharedInput::kPacketOverhead;
}

}  // namespace

class SharedInput::Lane final : public PacketFeed {
public:
    Lane(SharedInput& input, int streamIndex) : input_(input), streamIndex_(streamIndex) {}
    ~Lane() override {
        for (AVPacket* packet : queue_) av_packet_free(&packet);
        ownFeed_.reset();
        CloseInput(&own_);
    }
    Lane(const Lane&) = delete;
    Lane& operator=(const Lane&) = delete;

    int Read(AVPacket* packet) override;
    int Seek(int streamIndex, int64_t timestamp, int flags) override {
        return input_.SeekFor(this, streamIndex, timestamp, flags);
    }
    bool AfterScan() override { return input_.AfterScan(*this); }

    // Whether a packet of the lane's stream, read now, is the reader's next;
    // moves the lane on when its marker goes by.
    bool Takes(const AVPacket* packet) {
        switch (place_) {
            case LanePlace::kFollowing:
                return true;
            case LanePlace::kCatchingUp: {
                const MarkerPlace at = PlaceOf(packet, *marker_);
                if (at == MarkerPlace::kSame) place_ = LanePlace::kFollowing;
                if (at == MarkerPlace::kPast) place_ = LanePlace::kLost;
                return false;
            }
            case LanePlace::kLost:
                return false;
        }
        return false;
    }
    // Put in place by a seek or a rewind: every packet from there is its reader's.
    void PlaceAt(const LanePosition& position) {
        place_ = LanePlace::kFollowing;
        marker_.reset();
        position_ = position;
    }
    // The file moved under it: it looks for where its reader stands.
    void Displace() {
        if (marker_)
            place_ = LanePlace::kCatchingUp;
        else if (!position_.fromStart)
            place_ = LanePlace::kLost;
        // A lane that gave nothing since the start takes the file from its start.
    }
    void PlaceSecondOpen();
    // The shared file's start misses this lane's first packet: a lane that
    // is to read from the start reads from a second open.
    void TakeMissedStart() {
        if (missedStart_ && place_ == LanePlace::kFollowing && !marker_ && position_.fromStart)
            place_ = LanePlace::kLost;
        missedStart_ = false;
    }

    SharedInput& input_;
    const int streamIndex_;
    std::deque<AVPacket*> queue_;
    size_t queuedBytes_ = 0;
    LanePlace place_ = LanePlace::kFollowing;
    std::optional<PacketMarker> marker_;  // the last packet given to the reader since it was placed
    LanePosition position_;
    bool repositioned_ = false;  // followed another lane's seek
    bool missedStart_ = false;
    AVFormatContext* own_ = nullptr;  // the second open, once it has one
    std::unique_ptr<ContextFeed> ownFeed_;
    bool ownFromStart_ = false;  // the second open already went back to the start to find the marker
    int ownError_ = 0;
};

int SharedInput::Lane::Read(AVPacket* packet) {
    for (;;) {
        if (ownError_ < 0) return ownError_;
        if (ownFeed_) {
            const int result = ownFeed_->Read(packet);
            if (result < 0) return result;
            if (Takes(packet)) break;
            av_packet_unref(packet);
            if (place_ != LanePlace::kLost) continue;
            if (ownFromStart_) {
                // The marker is nowhere to be found: go on from here.
                place_ = LanePlace::kFollowing;
            } else {
                ownFromStart_ = true;
                place_ = LanePlace::kCatchingUp;
                SeekToFirstPacket(own_, streamIndex_, [this](int64_t timestamp, int flags) {
                    return ownFeed_->Seek(streamIndex_, timestamp, flags);
                });
            }
            continue;
        }
        if (place_ == LanePlace::kLost) {
            input_.Detach(*this);
            continue;
        }
        if (!queue_.empty()) {
            AVPacket* front = queue_.front();
            queue_.pop_front();
            queuedBytes_ -= CostOf(front);
            input_.queuedBytes_ -= CostOf(front);
            av_packet_move_ref(packet, front);
            av_packet_free(&front);
            break;
        }
        if (input_.ended_) return input_.endResult_;
        if (input_.Pump(*this) == PumpResult::kOverflow) input_.Detach(*this);
    }
    marker_ = MarkerOf(packet);
    return 0;
}

void SharedInput::Lane::PlaceSecondOpen() {
    ownFromStart_ = false;
    if (marker_) {
        // Just before the marker, then on to it.
        place_ = LanePlace::kCatchingUp;
        if (!marker_->timed || ownFeed_->Seek(streamIndex_, marker_->time, AVSEEK_FLAG_BACKWARD) < 0) {
            ownFromStart_ = true;
            SeekToFirstPacket(own_, streamIndex_, [this](int64_t timestamp, int flags) {
                return ownFeed_->Seek(streamIndex_, timestamp, flags);
            });
        }
        return;
    }
    place_ = LanePlace::kFollowing;
    if (!position_.fromStart) ownFeed_->Seek(position_.streamIndex, position_.timestamp, position_.flags);
}

SharedInput::SharedInput(AVFormatContext* context, InputSource source, bool fillTimes)
    : context_(context), source_(std::move(source)), fillTimes_(fillTimes), fill_(context) {
    source_.format = context_->iformat;  // the second opens skip the probe
    for (unsigned i = 0; i < context_->nb_streams; ++i) context_->streams[i]->discard = AVDISCARD_ALL;
}

SharedInput::~SharedInput() {
    lanes_.clear();
    fill_.Reset();
    CloseInput(&context_);
}

PacketFeed* SharedInput::LaneOf(int streamIndex) {
    if (streamIndex < 0 || streamIndex >= static_cast<int>(context_->nb_streams)) return nullptr;
    auto& lane = lanes_[streamIndex];
    if (!lane) {
        lane = std::make_unique<Lane>(*this, streamIndex);
        context_->streams[streamIndex]->discard = AVDISCARD_DEFAULT;
    }
    return lane.get();
}

void SharedInput::SetFollowers(const std::vector<int>& streams) {
    followers_ = std::set<int>(streams.begin(), streams.end());
    for (auto& [index, lane] : lanes_) lane->repositioned_ = false;
}

bool SharedInput::StopFollowing(int streamIndex) {
    followers_.erase(streamIndex);
    auto it = lanes_.find(streamIndex);
    if (it == lanes_.end()) return false;
    const bool moved = it->second->repositioned_;
    it->second->repositioned_ = false;
    return moved;
}

void SharedInput::ClearQueue(Lane& lane) {
    for (AVPacket* packet : lane.queue_) av_packet_free(&packet);
    lane.queue_.clear();
    queuedBytes_ -= lane.queuedBytes_;
    lane.queuedBytes_ = 0;
}

SharedInput::PumpResult SharedInput::Pump(Lane& asking) {
    AVPacket* packet = av_packet_alloc();
    const int result = !packet      ? AVERROR(ENOMEM)
                       : fillTimes_ ? fill_.Read(packet)
                                    : ReadFrameRetryOnce(context_, packet);
    if (result < 0) {
        av_packet_free(&packet);
        ended_ = true;
        endResult_ = result;
        return PumpResult::kRead;
    }
    auto it = lanes_.find(packet->stream_index);
    if (it == lanes_.end() || it->second->ownFeed_ || !it->second->Takes(packet)) {
        av_packet_free(&packet);
        return PumpResult::kRead;
    }
    Lane& lane = *it->second;
    lane.queue_.push_back(packet);
    lane.queuedBytes_ += CostOf(packet);
    queuedBytes_ += CostOf(packet);
    peakQueuedBytes_ = std::max(peakQueuedBytes_, queuedBytes_);
    return &lane != &asking && queuedBytes_ > kMaxQueuedBytes ? PumpResult::kOverflow : PumpResult::kRead;
}

int SharedInput::SeekFollowersBy(int streamIndex, int64_t timestamp, int flags) {
    return SeekFor(nullptr, streamIndex, timestamp, flags);
}

bool SharedInput::ReadsApart(int streamIndex) const {
    auto it = lanes_.find(streamIndex);
    return it != lanes_.end() && it->second->ownFeed_;
}

int SharedInput::SeekFor(Lane* asking, int streamIndex, int64_t timestamp, int flags) {
    const LanePosition position{false, streamIndex, timestamp, flags};
    if (asking && asking->ownFeed_) {
        const int result = asking->ownFeed_->Seek(streamIndex, timestamp, flags);
        asking->PlaceAt(position);
        asking->ownFromStart_ = false;
        return result;
    }
    const int result = av_seek_frame(context_, streamIndex, timestamp, flags);
    if (result < 0) return result;  // the file stays where it was: so does every lane
    fill_.Reset();
    ended_ = false;
    for (auto& [index, lane] : lanes_) {
        if (lane->ownFeed_) continue;
        ClearQueue(*lane);
        if (lane.get() == asking || followers_.count(index)) {
            lane->PlaceAt(position);
            lane->repositioned_ = lane.get() != asking;
        } else {
            lane->Displace();
        }
    }
    return result;
}

std::vector<int> SharedInput::SharedLanesByStartTime() const {
    std::vector<std::pair<int64_t, int>> starts;
    for (const auto& [index, lane] : lanes_) {
        if (lane->ownFeed_) continue;
        AVStream* stream = context_->streams[index];
        // The index knows the first packet; the start time is the first shown.
        int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        if (const AVIndexEntry* entry = avformat_index_get_entry(stream, 0)) start = std::min(start, entry->timestamp);
        starts.emplace_back(av_rescale_q(start, stream->time_base, AV_TIME_BASE_Q), index);
    }
    std::stable_sort(starts.begin(), starts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<int> order;
    for (const auto& [start, index] : starts) order.push_back(index);
    return order;
}

int SharedInput::SeekByToStart(int streamIndex) {
    const int result = SeekToFirstPacket(context_, streamIndex, [this, streamIndex](int64_t timestamp, int flags) {
        return av_seek_frame(context_, streamIndex, timestamp, flags);
    });
    fill_.Reset();
    ended_ = false;
    return result;
}

std::map<int, PacketMarker> SharedInput::FirstPacketsAfterSeekBy(int streamIndex, int* result) {
    std::map<int, PacketMarker> firsts;
    *result = SeekByToStart(streamIndex);
    if (*result < 0) return firsts;
    size_t wanted = 0;
    for (const auto& [index, lane] : lanes_) wanted += lane->ownFeed_ ? 0 : 1;
    AVPacket* packet = av_packet_alloc();
    for (int read = 0; packet && firsts.size() < wanted && read < kStartProbePackets; ++read) {
        if ((fillTimes_ ? fill_.Read(packet) : ReadFrameRetryOnce(context_, packet)) < 0) break;
        auto lane = lanes_.find(packet->stream_index);
        if (lane != lanes_.end() && !lane->second->ownFeed_) firsts.emplace(packet->stream_index, MarkerOf(packet));
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return firsts;
}

int SharedInput::SeekToStartForAll() {
    const std::vector<int> order = SharedLanesByStartTime();
    if (order.empty()) return 0;
    if (order.size() == 1) return SeekByToStart(order.front());
    // The seek whose first packets come earliest for most lanes.
    struct Trial {
        int stream = -1;
        int result = -1;
        std::map<int, PacketMarker> firsts;
    };
    std::vector<Trial> trials;
    for (int stream : order) {
        Trial trial;
        trial.stream = stream;
        trial.firsts = FirstPacketsAfterSeekBy(stream, &trial.result);
        trials.push_back(std::move(trial));
    }
    // Whether `trial` reaches the lane's first packet no later than every other trial.
    auto earliestFor = [&trials](const Trial& trial, int lane) {
        auto mine = trial.firsts.find(lane);
        for (const Trial& other : trials) {
            auto theirs = other.firsts.find(lane);
            if (theirs == other.firsts.end()) continue;
            if (mine == trial.firsts.end()) return false;
            if (PlaceOfMarker(mine->second, theirs->second) == MarkerPlace::kPast) return false;
        }
        return true;
    };
    const Trial* best = nullptr;
    size_t bestCount = 0;
    for (const Trial& trial : trials) {
        if (trial.result < 0) continue;
        size_t count = 0;
        for (int lane : order) count += earliestFor(trial, lane) ? 1 : 0;
        if (!best || count > bestCount) {
            best = &trial;
            bestCount = count;
        }
    }
    if (!best) return SeekByToStart(order.front());
    const int result = SeekByToStart(best->stream);
    for (int lane : order)
        if (!earliestFor(*best, lane)) lanes_[lane]->missedStart_ = true;
    return result;
}

int SharedInput::RewindAll() {
    const int result = SeekToStartForAll();
    for (auto& [index, lane] : lanes_) {
        if (lane->ownFeed_) {
            ContextFeed* feed = lane->ownFeed_.get();
            const int stream = index;
            SeekToFirstPacket(lane->own_, stream, [feed, stream](int64_t timestamp, int flags) {
                return feed->Seek(stream, timestamp, flags);
            });
            lane->ownFromStart_ = false;
        } else {
            ClearQueue(*lane);
        }
        lane->PlaceAt(LanePosition{});
        lane->repositioned_ = false;
        lane->TakeMissedStart();
    }
    return result;
}

bool SharedInput::AfterScan(Lane& asking) {
    if (asking.ownFeed_) {
        // A scan through a second open (its stream's own).
        asking.ownFeed_->AfterScan();
        return false;
    }
    // The scan read the shared file and left it at the start of its stream;
    // every lane is put back to where its reader stands.
    SeekToStartForAll();
    for (auto& [index, lane] : lanes_) {
        if (lane->ownFeed_) continue;
        ClearQueue(*lane);
        lane->Displace();
        lane->TakeMissedStart();
    }
    return asking.place_ == LanePlace::kCatchingUp;
}

int SharedInput::Detach(Lane& lane) {
    ClearQueue(lane);
    OpenedInput opened = OpenInput(source_, ProbeDepth::kStreamInfo);
    AVFormatContext* own = opened.context;
    const int index = lane.streamIndex_;
    const bool same = own && own->nb_streams == context_->nb_streams &&
                      own->streams[index]->codecpar->codec_type == context_->streams[index]->codecpar->codec_type;
    if (!same) {
        CloseInput(&own);
        lane.ownError_ = AVERROR(EIO);
        return lane.ownError_;
    }
    own->flags = (own->flags & ~AVFMT_FLAG_GENPTS) | (context_->flags & AVFMT_FLAG_GENPTS);
    for (unsigned i = 0; i < own->nb_streams; ++i)
        own->streams[i]->discard = static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    lane.own_ = own;
    lane.ownFeed_ = std::make_unique<ContextFeed>(own, fillTimes_);
    context_->streams[index]->discard = AVDISCARD_ALL;  // the shared file no longer reads it
    ++secondOpens_;
    lane.PlaceSecondOpen();
    return 0;
}

}  // namespace kx
