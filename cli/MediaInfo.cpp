#include "MediaInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Component.h"
#include "Text.h"
#include "TimeText.h"

namespace kxcli {

namespace {

// Guards against absurd counts in a damaged record.
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kMaxExtradata = 1 << 20;
constexpr size_t kPathCharacters = sizeof(FileMediaInfo::path) / sizeof(OLECHAR);

double Finite(double value) { return std::isfinite(value) ? value : 0.0; }

StreamDesc ReadStream(const MediaStreamRecord& record) {
    StreamDesc s;
    s.kind = record.mediaType == 2 ? MediaKind::kAudio : MediaKind::kVideo;
    s.index = static_cast<int32_t>(record.streamIndex);
    s.streamTag = record.streamId;
    s.codecId = static_cast<int32_t>(record.codecId);
    s.codecName.assign(record.codecName, strnlen(record.codecName, sizeof record.codecName));
    s.duration = Finite(record.duration);
    s.bitRate = record.bitRate;
    s.width = record.width;
    s.height = record.height;
    s.frameRate = Finite(record.frameRate);
    s.aspectNumerator = record.aspectNum;
    s.aspectDenominator = record.aspectDen;
    s.profile = record.profile;
    s.level = record.level;
    s.maxBFrames = record.maxBFrames;
    s.displayWidth = record.displayWidth;
    s.displayHeight = record.displayHeight;
    s.sampleRate = record.sampleRate;
    s.channels = record.channels;
    s.bitsPerSample = record.bitsPerSample;
    s.bytesPerSecond = record.bytesPerSecond;
    if (record.extradata && record.extradataSize > 0 && record.extradataSize <= kMaxExtradata)
        s.extradata.assign(record.extradata, record.extradata + record.extradataSize);
    return s;
}

void ReadStreams(const MediaStreamRecord* records, uint32_t count, std::vector<StreamDesc>* out) {
    if (!records) return;
    for (uint32_t i = 0; i < std::min(count, kMaxEntries); ++i) out->push_back(ReadStream(records[i]));
}

FileDesc ReadFile(const FileMediaInfo& info) {
    FileDesc file;
    size_t length = 0;
    while (length < kPathCharacters && info.path[length]) ++length;
    file.path = WideToUtf8(std::u16string(info.path, length));
    file.duration = Finite(info.duration);
    file.bitRate = info.totalBitRate;
    if (!info.programs) return file;
    uint32_t count = std::min(info.programCount, kMaxEntries);
    for (uint32_t i = 0; i < count; ++i) {
        const ProgramInfo& entry = info.programs[i];
        ProgramDesc program;
        program.number = entry.number;
        program.outsidePrograms = info.hasExtra != 0 && i + 1 == count;
        program.duration = Finite(entry.duration);
        program.bitRate = entry.bitRate;
        program.subtitleCount = entry.subtitleCount;
        ReadStreams(entry.videos, entry.videoCount, &program.video);
        ReadStreams(entry.audios, entry.audioCount, &program.audio);
        file.programs.push_back(std::move(program));
    }
    return file;
}

std::optional<MediaKind> KindOfTrack(int32_t kind) {
    switch (kind) {
        case KX_STREAM_VIDEO: return MediaKind::kVideo;
        case KX_STREAM_AUDIO: return MediaKind::kAudio;
        case KX_STREAM_SUBTITLE: return MediaKind::kSubtitle;
        default: return std::nullopt;
    }
}

std::vector<TrackDesc> ReadTracks(IStreamwright* converter, int64_t fileId) {
    std::vector<TrackDesc> tracks;
    const int32_t count = std::min<int32_t>(Component().getStreamCount(converter, fileId), static_cast<int32_t>(kMaxEntries));
    for (int32_t i = 0; i < count; ++i) {
        KX_StreamSummary summary{};
        if (Component().getStreamSummary(converter, fileId, i, &summary) != KX_S_OK) continue;
        TrackDesc track;
        track.index = summary.streamIndex;
        track.kind = KindOfTrack(summary.kind);
        track.codecId = summary.codecId;
        track.codecName.assign(summary.codecName, strnlen(summary.codecName, sizeof summary.codecName));
        track.language.assign(summary.language, strnlen(summary.language, sizeof summary.language));
        size_t length = 0;
        while (length < std::size(summary.title) && summary.title[length]) ++length;
        track.title = WideToUtf8(std::u16string(summary.title, length));
        track.disposition = summary.disposition;
        tracks.push_back(std::move(track));
    }
    return tracks;
}

}  // namespace

std::vector<const StreamDesc*> FileDesc::Streams() const {
    std::vector<const StreamDesc*> all;
    for (const auto& program : programs) {
        for (const auto& s : program.video) all.push_back(&s);
        for (const auto& s : program.audio) all.push_back(&s);
    }
    std::stable_sort(all.begin(), all.end(), [](const StreamDesc* a, const StreamDesc* b) { return a->index < b->index; });
    return all;
}

const StreamDesc* FileDesc::FirstOf(MediaKind kind) const {
    for (const StreamDesc* s : Streams())
        if (s->kind == kind) return s;
    return nullptr;
}

const StreamDesc* FileDesc::FindStream(int32_t index) const {
    for (const StreamDesc* s : Streams())
        if (s->index == index) return s;
    return nullptr;
}

const char* KindName(MediaKind kind) {
    switch (kind) {
        case MediaKind::kVideo: return "video";
        case MediaKind::kAudio: return "audio";
        case MediaKind::kSubtitle: return "subtitle";
    }
    return "stream";
}

const TrackDesc* FileDesc::FindTrack(int32_t index) const {
    for (const auto& track : tracks)
        if (track.index == index) return &track;
    return nullptr;
}

bool FileDesc::HasRealPrograms() const {
    for (const auto& program : programs)
        if (!program.outsidePrograms) return true;
    return false;
}

int64_t FileDesc::DurationTicks() const {
    if (!(duration > 0)) return 0;
    return static_cast<int64_t>(std::ceil(duration * static_cast<double>(kTicksPerSecond)));
}

std::optional<FileDesc> DescribeFile(IStreamwright* converter, int64_t fileId) {
    ComRef<ILossCopyMediaInfo> info(converter->GetFileMediaInfo(fileId));
    if (!info) return std::nullopt;
    const FileMediaInfo* record = info->GetInfo();
    if (!record) return std::nullopt;
    FileDesc file = ReadFile(*record);
    file.tracks = ReadTracks(converter, fileId);
    return file;
}

}  // namespace kxcli
