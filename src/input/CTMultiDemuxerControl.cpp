#include "input/CTMultiDemuxerControl.h"

#include <cstdint>
#include <set>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"

namespace kx {

namespace {

ITDemuxerControl* ControlOf(StreamReaderEntry& entry) { return entry.reader ? entry.reader->GetControl() : nullptr; }

}  // namespace

ITDemuxerControl* CTMultiDemuxerControl::EarliestReader() {
    if (!readers_) return nullptr;
    ITDemuxerControl* chosen = nullptr;
    int64_t best = INT64_MAX;
    for (auto& [index, entry] : *readers_) {
        ITDemuxerControl* control = ControlOf(entry);
        if (!control || control->IsEndOfStream()) continue;
        SampleInfo info;
        if (!control->GetSampleInfo(&info)) continue;
        if (info.pts < best) {
            best = info.pts;
            chosen = control;
        }
    }
    return chosen;
}

int CTMultiDemuxerControl::GetSampleInfo(SampleInfo* info) {
    ITDemuxerControl* earliest = EarliestReader();
    return earliest ? earliest->GetSampleInfo(info) : 0;
}

int CTMultiDemuxerControl::HasSample() {
    if (!readers_) return 0;
    for (auto& [index, entry] : *readers_)
        if (ITDemuxerControl* control = ControlOf(entry); control && control->HasSample()) return 1;
    return 0;
}

void CTMultiDemuxerControl::SetSampleReady(int value) {
    if (!readers_) return;
    for (auto& [index, entry] : *readers_)
        if (ITDemuxerControl* control = ControlOf(entry)) control->SetSampleReady(value);
}

int CTMultiDemuxerControl::SetHoldSample(int hold) {
    // Every reader keeps its sample until it is handed out, whatever is asked.
    int result = 0;
    if (!readers_) return result;
    for (auto& [index, entry] : *readers_)
        if (ITDemuxerControl* control = ControlOf(entry)) result = control->SetHoldSample(1);
    return result;
}

int CTMultiDemuxerControl::IsEndOfStream() {
    if (!readers_) return 0;
    for (auto& [index, entry] : *readers_)
        if (ITDemuxerControl* control = ControlOf(entry); control && control->IsEndOfStream()) return 1;
    return 0;
}

int CTMultiDemuxerControl::ReadNext() {
    if (!readers_) return 0;
    if (prime_) {
        int any = 0;
        for (auto& [index, entry] : *readers_) {
            ITDemuxerControl* control = ControlOf(entry);
            if (!control) continue;
            control->SetSampleReady(0);
            any |= control->ReadNext();
        }
        prime_ = 0;
        return any;
    }
    // Advance the reader whose sample was handed out; an ended reader gives
    // way to the next earliest. Each reader is tried at most once.
    std::set<ITDemuxerControl*> tried;
    while (ITDemuxerControl* earliest = EarliestReader()) {
        if (!tried.insert(earliest).second) break;
        earliest->SetSampleReady(0);
        if (earliest->ReadNext() == 1) return 1;
    }
    return 0;
}

int CTMultiDemuxerControl::GetPacket(AVPacket* packet) {
    ITDemuxerControl* earliest = EarliestReader();
    return earliest ? earliest->GetPacket(packet) : 0;
}

DecodedFrame* CTMultiDemuxerControl::GetDecodedFrame() {
    ITDemuxerControl* earliest = EarliestReader();
    return earliest ? earliest->GetDecodedFrame() : nullptr;
}

ITDemuxerControl* CTMultiDemuxerControl::ReaderOf(int streamIndex) {
    if (!readers_) return nullptr;
    auto it = readers_->find(streamIndex);
    return it == readers_->end() ? nullptr : ControlOf(it->second);
}

int CTMultiDemuxerControl::Seek(double seconds, SeekMode mode, int streamIndex) {
    if (!readers_ || streamIndex != -1) {
        ITDemuxerControl* control = ReaderOf(streamIndex);
        prime_ = 0;
        if (!control) return -1;
        control->SetSampleReady(0);
        return control->Seek(seconds, mode, streamIndex);
    }
    if (Sharing()) return SeekShared(seconds, mode);
    // Video first, each reader on a key frame; the audio then follows the
    // time the video reached, at any packet.
    const VideoSeek video = SeekVideoFirst(seconds, mode);
    int result = video.result;
    for (auto& [index, entry] : *readers_) {
        ITDemuxerControl* control = ControlOf(entry);
        if (!control || entry.mediaType != MediaType::kAudio) continue;
        result = SeekAudioBefore(control, index, video.reached);
    }
    prime_ = 0;
    return result;
}

CTMultiDemuxerControl::VideoSeek CTMultiDemuxerControl::SeekVideoFirst(double seconds, SeekMode mode) {
    VideoSeek video;
    video.reached = static_cast<int64_t>(seconds * double(kTicksPerSecond));  // when no video leads
    for (auto& [index, entry] : *readers_) {
        ITDemuxerControl* control = ControlOf(entry);
        if (!control || entry.mediaType != MediaType::kVideo) continue;
        control->SetSampleReady(0);
        video.result = control->Seek(seconds, mode, index);
        SampleInfo info;
        if (control->GetSampleInfo(&info) && info.streamIndex == index) {
            video.reached = info.pts;
            if (input_ && !input_->ReadsApart(index)) video.leader = &entry;
        }
    }
    return video;
}

int CTMultiDemuxerControl::SeekAudioBefore(ITDemuxerControl* control, int index, int64_t time) {
    // Audio is positioned a little before the video's time, so that the
    // packet that sounds across it is read too; the engines drop what ends
    // before the clip. Containers seek audio coarsely: back off until the
    // first packet held is not later than the time.
    double lead = kAudioLeadSeconds;
    for (int attempt = 0; attempt < kAudioSeekAttempts; ++attempt, lead *= 4) {
        control->SetSampleReady(0);
        int result = control->Seek(double(time) / double(kTicksPerSecond) - lead, SeekMode::kBackwardKey, index);
        SampleInfo info;
        if (result >= 0 && control->GetSampleInfo(&info) && info.pts <= time) return result;
    }
    return control->Rewind() ? 0 : -1;
}

bool CTMultiDemuxerControl::Sharing() const { return readers_ && input_ && readers_->size() > 1; }

int CTMultiDemuxerControl::SeekShared(double seconds, SeekMode mode) {
    // As above, with the file seeked as few times as that allows: the audio
    // takes the place the video's seek reached, or else a place a little
    // before it, still found by the video stream (whose key frames lie in
    // file order, so the video reader finds its own packet again); it seeks
    // on its own only when neither has its first packet in time. Readers of
    // other streams keep their places.
    std::vector<int> audio;
    for (auto& [index, entry] : *readers_)
        if (entry.mediaType == MediaType::kAudio) audio.push_back(index);
    input_->SetFollowers(audio);
    const VideoSeek video = SeekVideoFirst(seconds, mode);
    int result = video.result;
    const int64_t reached = video.reached;
    StreamReaderEntry* const leader = video.leader;
    for (size_t next = 0; next < audio.size(); ++next) {
        const int index = audio[next];
        StreamReaderEntry& entry = readers_->at(index);
        CTSingleDemuxerControl* control = entry.reader ? entry.reader->Control() : nullptr;
        if (!control) continue;
        if (input_->StopFollowing(index) && HeldBy(control, reached)) {
            result = 1;
            continue;
        }
        if (leader && !input_->ReadsApart(index)) {
            const AVStream* stream = entry.reader->FormatContext()->streams[leader->streamIndex];
            const std::vector<int> unplaced(audio.begin() + static_cast<std::ptrdiff_t>(next), audio.end());
            int64_t lead = static_cast<int64_t>(kAudioLeadSeconds * double(kTicksPerSecond));
            bool followed = false;
            for (int attempt = 0; attempt < kAudioSeekAttempts && !followed; ++attempt, lead *= 4) {
                input_->SetFollowers(unplaced);
                const int64_t ticks = reached - lead + control->TimeZero();
                if (input_->SeekFollowersBy(leader->streamIndex, TicksToStreamTime(ticks, stream->time_base),
                                            AVSEEK_FLAG_BACKWARD) >= 0)
                    followed = input_->StopFollowing(index) && HeldBy(control, reached);
            }
            if (followed) {
                result = 1;
                continue;
            }
            input_->StopFollowing(index);
        }
        result = SeekAudioBefore(control, index, reached);
    }
    input_->ClearFollowers();
    prime_ = 0;
    return result;
}

bool CTMultiDemuxerControl::HeldBy(CTSingleDemuxerControl* control, int64_t time) {
    SampleInfo info;
    return control->FollowInput() == 1 && control->GetSampleInfo(&info) && info.pts <= time;
}

int CTMultiDemuxerControl::RewindShared() {
    // One seek of the file puts every reader back to its first packet.
    input_->RewindAll();
    int any = 0;
    for (auto& [index, entry] : *readers_)
        if (entry.reader && entry.reader->Control()) any |= entry.reader->Control()->FollowInput();
    return any;
}

int CTMultiDemuxerControl::Rewind() {
    prime_ = 0;
    if (!readers_) return 0;
    if (Sharing()) return RewindShared();
    int any = 0;
    for (auto& [index, entry] : *readers_)
        if (ITDemuxerControl* control = ControlOf(entry)) any |= control->Rewind();
    return any;
}

InputEnd CTMultiDemuxerControl::GetInputEnd() {
    InputEnd worst;
    if (!readers_) return worst;
    for (auto& [index, entry] : *readers_)
        if (ITDemuxerControl* control = ControlOf(entry)) worst = WorseInputEnd(worst, control->GetInputEnd());
    return worst;
}

void CTMultiDemuxerControl::ForgetInputEnd() {
    if (!readers_) return;
    for (auto& [index, entry] : *readers_)
        if (ITDemuxerControl* control = ControlOf(entry)) control->ForgetInputEnd();
}

int CTMultiDemuxerControl::CheckSeekable(int streamIndex) {
    if (!readers_ || streamIndex != -1) {
        ITDemuxerControl* control = ReaderOf(streamIndex);
        prime_ = 0;
        return control ? control->CheckSeekable(streamIndex) : -1;
    }
    int answer = -1;
    for (auto& [index, entry] : *readers_) {
        ITDemuxerControl* control = ControlOf(entry);
        if (!control) continue;
        answer = control->CheckSeekable(index);
        if (answer == 1) return answer;  // one stream that cannot seek decides
    }
    prime_ = 0;
    return answer;
}

}  // namespace kx
