#include "MediaInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Component.h"
#include "Text.h"
#include "TimeText.h"

namespace kxcli {

namespace {

// Byte layout of the description records that hosts read directly.
namespace file_info {
constexpr size_t kPath = 0, kPathBytes = 1024, kDuration = 1024, kBitRate = 1032, kProgramCount = 1036,
                 kHasOutsideEntry = 1040, kPrograms = 1048;
}
namespace program_info {
constexpr size_t kSize = 56, kNumber = 0, kDuration = 8, kBitRate = 16, kVideoCount = 20, kAudioCount = 24,
                 kSubtitleCount = 28, kVideo = 32, kAudio = 40;
}
namespace stream_record {
constexpr size_t kSize = 408, kMediaType = 0, kIndex = 4, kStreamTag = 8, kCodecId = 12, kCodecName = 16,
                 kCodecNameBytes = 32, kDuration = 272, kBitRate = 280, kWidth = 288, kHeight = 292, kFrameRate = 296,
                 kAspectNumerator = 304, kAspectDenominator = 308, kProfile = 324, kLevel = 328, kMaxBFrames = 332,
                 kSampleRate = 336, kChannels = 340, kBitsPerSample = 344, kBytesPerSecond = 348,
                 kExtradataSize = 388, kExtradata = 392, kDisplayWidth = 400, kDisplayHeight = 404;
}

// Guards against absurd counts in a damaged record.
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kMaxExtradata = 1 << 20;

template <typename T>
T Read(const uint8_t* base, size_t offset) {
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

double Finite(double value) { return std::isfinite(value) ? value : 0.0; }

StreamDesc ReadStream(const uint8_t* record) {
    using namespace stream_record;
    StreamDesc s;
    s.kind = Read<uint32_t>(record, kMediaType) == 2 ? MediaKind::kAudio : MediaKind::kVideo;
    s.index = static_cast<int32_t>(Read<uint32_t>(record, kIndex));
    s.streamTag = Read<int32_t>(record, kStreamTag);
    s.codecId = static_cast<int32_t>(Read<uint32_t>(record, kCodecId));
    const char* name = reinterpret_cast<const char*>(record + kCodecName);
    s.codecName.assign(name, strnlen(name, kCodecNameBytes));
    s.duration = Finite(Read<double>(record, kDuration));
    s.bitRate = Read<uint32_t>(record, kBitRate);
    s.width = Read<uint32_t>(record, kWidth);
    s.height = Read<uint32_t>(record, kHeight);
    s.frameRate = Finite(Read<double>(record, kFrameRate));
    s.aspectNumerator = Read<uint32_t>(record, kAspectNumerator);
    s.aspectDenominator = Read<uint32_t>(record, kAspectDenominator);
    s.profile = Read<uint32_t>(record, kProfile);
    s.level = Read<uint32_t>(record, kLevel);
    s.maxBFrames = Read<uint32_t>(record, kMaxBFrames);
    s.displayWidth = Read<uint32_t>(record, kDisplayWidth);
    s.displayHeight = Read<uint32_t>(record, kDisplayHeight);
    s.sampleRate = Read<uint32_t>(record, kSampleRate);
    s.channels = Read<uint32_t>(record, kChannels);
    s.bitsPerSample = Read<uint32_t>(record, kBitsPerSample);
    s.bytesPerSecond = Read<uint32_t>(record, kBytesPerSecond);
    uint32_t extraSize = Read<uint32_t>(record, kExtradataSize);
    auto* extra = Read<const uint8_t*>(record, kExtradata);
    if (extra && extraSize > 0 && extraSize <= kMaxExtradata) s.extradata.assign(extra, extra + extraSize);
    return s;
}

void ReadStreams(const uint8_t* array, uint32_t count, std::vector<StreamDesc>* out) {
    if (!array) return;
    for (uint32_t i = 0; i < std::min(count, kMaxEntries); ++i) out->push_back(ReadStream(array + i * stream_record::kSize));
}

FileDesc ReadFile(const uint8_t* info) {
    FileDesc file;
    const auto* path = reinterpret_cast<const char16_t*>(info + file_info::kPath);
    size_t length = 0;
    while (length < file_info::kPathBytes / 2 && path[length]) ++length;
    file.path = WideToUtf8(std::u16string(path, length));
    file.duration = Finite(Read<double>(info, file_info::kDuration));
    file.bitRate = Read<uint32_t>(info, file_info::kBitRate);
    uint32_t count = std::min(Read<uint32_t>(info, file_info::kProgramCount), kMaxEntries);
    bool outsideEntry = Read<uint32_t>(info, file_info::kHasOutsideEntry) != 0;
    auto* programs = Read<const uint8_t*>(info, file_info::kPrograms);
    if (!programs) return file;
    for (uint32_t i = 0; i < count; ++i) {
        using namespace program_info;
        const uint8_t* entry = programs + i * kSize;
        ProgramDesc program;
        program.number = Read<uint32_t>(entry, kNumber);
        program.outsidePrograms = outsideEntry && i + 1 == count;
        program.duration = Finite(Read<double>(entry, kDuration));
        program.bitRate = Read<uint32_t>(entry, kBitRate);
        program.subtitleCount = Read<uint32_t>(entry, kSubtitleCount);
        ReadStreams(Read<const uint8_t*>(entry, kVideo), Read<uint32_t>(entry, kVideoCount), &program.video);
        ReadStreams(Read<const uint8_t*>(entry, kAudio), Read<uint32_t>(entry, kAudioCount), &program.audio);
        file.programs.push_back(std::move(program));
    }
    return file;
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
    const auto* record = reinterpret_cast<const uint8_t*>(info->GetInfo());
    if (!record) return std::nullopt;
    return ReadFile(record);
}

}  // namespace kxcli
