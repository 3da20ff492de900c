#include "input/KeyFramesAround.h"

#include <algorithm>
#include <cstring>
#include <optional>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"
#include "input/H264KeyFrame.h"
#include "input/H264PacketForm.h"
#include "input/KeyFrameCollector.h"
#include "input/PacketTimeFill.h"
#include "media/OwnedPacket.h"

namespace kx {

namespace {

// How far before a time the search first seeks; it doubles until a key
// frame at or before the time is read.
constexpr int64_t kFirstReach = kTicksPerSecond;
// Key frames given after each time: the clip bounds need the next one, and
// the one after that for a clip shorter than its group.
constexpr size_t kKeysAfter = 2;
// Key frames read after each time: one more than given, so that a cut moved
// to the next key frame is answered from the same read.
constexpr size_t kKeysReadAfter = kKeysAfter + 1;

}  // namespace

bool KeyFrameRuns::Answer(int streamIndex, int64_t t, std::vector<KeyFrameRecord>* found) const {
    for (const Run& run : runs_) {
        if (run.streamIndex != streamIndex || run.keys.empty()) continue;
        auto next = std::upper_bound(run.keys.begin(), run.keys.end(), t,
                                     [](int64_t time, const KeyFrameRecord& k) { return time < k.time; });
        const bool framedBefore = next != run.keys.begin() || run.fromStart;
        const auto after = static_cast<size_t>(run.keys.end() - next);
        if (!framedBefore || (after < kKeysAfter && !run.toEnd)) continue;
        if (next != run.keys.begin()) found->push_back(*(next - 1));
        found->insert(found->end(), next, next + static_cast<std::ptrdiff_t>(std::min(after, kKeysAfter)));
        return true;
    }
    return false;
}

bool KeyFrameRuns::KnownIdr(int streamIndex, int64_t time) const {
    for (const Run& run : runs_)
        if (run.streamIndex == streamIndex &&
            std::find(run.idrTimes.begin(), run.idrTimes.end(), time) != run.idrTimes.end())
            return true;
    return false;
}

namespace {

bool SeeksByTime(const AVFormatContext* format) {
    const char* name = format->iformat ? format->iformat->name : nullptr;
    return name && (std::strcmp(name, "mpegts") == 0 || std::strncmp(name, "matroska", 8) == 0);
}

// Reads on from where the file stands until past the key frames after `t`,
// or up to the key frame at `joinAt` (the first of a later run, which then
// goes on from there: *joined); false on a failure or a key frame without
// a time.
bool ReadRun(AVFormatContext* format, AVStream* stream, int64_t timeZero, int64_t t, std::optional<int64_t> joinAt,
             const std::atomic<int>& cancel, KeyFrameRuns::Run* run, bool* joined) {
    PacketTimeFill timeFill(format);
    KeyFrameCollector collector(stream);
    const OwnedPacket packet = NewPacket();
    if (!packet) return false;
    const bool h264 = stream->codecpar->codec_id == AV_CODEC_ID_H264;
    const H264PacketForm form = H264FormOfStream(stream->codecpar);
    size_t after = 0;
    while (after < kKeysReadAfter) {
        if (cancel.load()) return false;
        if (timeFill.Read(packet.get()) < 0) {
            run->toEnd = true;
            break;
        }
        const bool ours = packet.get()->stream_index == stream->index;
        const bool key = ours && collector.Take(packet.get());
        const bool idr = key && h264 && IsH264IdrPicture(packet.get()->data, packet.get()->size, form);
        av_packet_unref(packet.get());
        if (!key) continue;
        if (!collector.Last().timed) return false;
        KeyFrameRecord record = KeyFrameRecordOf(collector.Last(), -1, timeZero);
        record.frameNumber = -1;
        if (joinAt && record.time == *joinAt) {
            *joined = true;
            break;
        }
        after += record.time > t;
        run->keys.push_back(record);
        if (idr) run->idrTimes.push_back(record.time);
    }
    std::sort(run->keys.begin(), run->keys.end(),
              [](const KeyFrameRecord& a, const KeyFrameRecord& b) { return a.time < b.time; });
    return true;
}

}  // namespace

std::optional<std::vector<KeyFrameRecord>> KeyFramesAround(AVFormatContext* format, int streamIndex,
                                                           int64_t timeZero, const std::vector<int64_t>& times,
                                                           const std::atomic<int>& cancel, KeyFrameRuns* seen) {
    if (!format || streamIndex < 0 || streamIndex >= static_cast<int>(format->nb_streams) || !SeeksByTime(format))
        return std::nullopt;
    AVStream* stream = format->streams[streamIndex];
    std::vector<int64_t> wanted = times;
    wanted.push_back(0);  // the file's first key frame: clips at the start begin there
    std::vector<KeyFrameRecord> found;
    for (int64_t t : wanted) {
        if (seen->Answer(streamIndex, t, &found)) continue;
        std::optional<KeyFrameRuns::Run> landedAfter;  // the last read, which began after t's key frame
        for (int64_t reach = kFirstReach;; reach *= 2) {
            KeyFrameRuns::Run run;
            run.streamIndex = streamIndex;
            run.fromStart = t - reach <= 0;
            const int64_t target = run.fromStart ? -kTicksPerSecond : t - reach;
            if (av_seek_frame(format, streamIndex, TicksToStreamTime(target + timeZero, stream->time_base),
                              AVSEEK_FLAG_BACKWARD) < 0)
                return std::nullopt;
            // A longer reach reads only up to where the shorter one began.
            std::optional<int64_t> joinAt;
            if (landedAfter && !landedAfter->keys.empty()) joinAt = landedAfter->keys.front().time;
            bool joined = false;
            if (!ReadRun(format, stream, timeZero, t, joinAt, cancel, &run, &joined)) return std::nullopt;
            if (joined) {
                run.keys.insert(run.keys.end(), landedAfter->keys.begin(), landedAfter->keys.end());
                run.idrTimes.insert(run.idrTimes.end(), landedAfter->idrTimes.begin(), landedAfter->idrTimes.end());
                run.toEnd = landedAfter->toEnd;
            }
            seen->Add(run);
            // Landing after the key frame that leads up to t would miss it;
            // a read from the start that frames nothing found no key frame.
            if (seen->Answer(streamIndex, t, &found) || run.fromStart) break;
            landedAfter = std::move(run);
        }
    }
    std::sort(found.begin(), found.end(),
              [](const KeyFrameRecord& a, const KeyFrameRecord& b) { return a.time < b.time; });
    found.erase(std::unique(found.begin(), found.end(),
                            [](const KeyFrameRecord& a, const KeyFrameRecord& b) { return a.time == b.time; }),
                found.end());
    return found;
}

}  // namespace kx
