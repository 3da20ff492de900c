#include "input/KeyFramesAround.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"
#include "input/KeyFrameCollector.h"
#include "input/PacketTimeFill.h"
#include "media/OwnedPacket.h"

namespace kx {

namespace {

// How far before a time the search first seeks; it doubles until a key
// frame at or before the time is read.
constexpr int64_t kFirstReach = kTicksPerSecond;
// Key frames read after each time: the clip bounds need the next one, and
// the one after that for a clip shorter than its group.
constexpr size_t kKeysAfter = 2;

bool SeeksByTime(const AVFormatContext* format) {
    const char* name = format->iformat ? format->iformat->name : nullptr;
    return name && (std::strcmp(name, "mpegts") == 0 || std::strncmp(name, "matroska", 8) == 0);
}

enum class SearchEnd { kFound, kReachTooShort, kFailed };

// Reads on from where the file stands, keeping the last key frame at or
// before `t` and those after it.
SearchEnd ReadAround(AVFormatContext* format, AVStream* stream, int64_t timeZero, int64_t t, bool fromStart,
                     const std::atomic<int>& cancel, std::vector<KeyFrameRecord>* found) {
    PacketTimeFill timeFill(format);
    KeyFrameCollector collector(stream);
    const OwnedPacket packet = NewPacket();
    if (!packet) return SearchEnd::kFailed;
    std::optional<KeyFrameRecord> before;
    std::vector<KeyFrameRecord> after;
    while (after.size() < kKeysAfter) {
        if (cancel.load()) return SearchEnd::kFailed;
        if (timeFill.Read(packet.get()) < 0) break;
        const bool ours = packet.get()->stream_index == stream->index;
        const bool key = ours && collector.Take(packet.get());
        av_packet_unref(packet.get());
        if (!key) continue;
        if (!collector.Last().timed) return SearchEnd::kFailed;
        KeyFrameRecord record = KeyFrameRecordOf(collector.Last(), -1, timeZero);
        record.frameNumber = -1;
        if (record.time <= t)
            before = record;
        else
            after.push_back(record);
    }
    // Landing after the key frame that leads up to t would miss it.
    if (!before && !fromStart) return SearchEnd::kReachTooShort;
    if (before) found->push_back(*before);
    found->insert(found->end(), after.begin(), after.end());
    return SearchEnd::kFound;
}

}  // namespace

std::optional<std::vector<KeyFrameRecord>> KeyFramesAround(AVFormatContext* format, int streamIndex,
                                                           int64_t timeZero, const std::vector<int64_t>& times,
                                                           const std::atomic<int>& cancel) {
    if (!format || streamIndex < 0 || streamIndex >= static_cast<int>(format->nb_streams) || !SeeksByTime(format))
        return std::nullopt;
    AVStream* stream = format->streams[streamIndex];
    std::vector<int64_t> wanted = times;
    wanted.push_back(0);  // the file's first key frame: clips at the start begin there
    std::vector<KeyFrameRecord> found;
    for (int64_t t : wanted) {
        for (int64_t reach = kFirstReach;; reach *= 2) {
            const bool fromStart = t - reach <= 0;
            const int64_t target = fromStart ? -kTicksPerSecond : t - reach;
            if (av_seek_frame(format, streamIndex, TicksToStreamTime(target + timeZero, stream->time_base),
                              AVSEEK_FLAG_BACKWARD) < 0)
                return std::nullopt;
            const SearchEnd end = ReadAround(format, stream, timeZero, t, fromStart, cancel, &found);
            if (end == SearchEnd::kFailed) return std::nullopt;
            if (end == SearchEnd::kFound) break;
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
