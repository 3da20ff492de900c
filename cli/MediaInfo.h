// The media description of an input file, read from the record that
// GetFileMediaInfo hands out, in the program's own plain types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KX_Remuxion.h"

namespace kxcli {

// The component's stream kinds (KX_STREAM_*).
enum class MediaKind { kVideo = 1, kAudio = 2, kSubtitle = 3 };
// "video", "audio", "subtitle"
const char* KindName(MediaKind kind);

struct StreamDesc {
    MediaKind kind = MediaKind::kVideo;
    int32_t index = -1;      // the stream's number in its file
    int32_t streamTag = -1;  // program entry << 16 | index (+0x4000 for audio)
    int32_t codecId = 0;     // the component's numbering (28 = H.264)
    std::string codecName;   // as the record gives it; may be empty
    double duration = 0;     // seconds
    uint32_t bitRate = 0;
    // video
    uint32_t width = 0, height = 0;
    double frameRate = 0;  // 0: the rate varies (or is unknown)
    uint32_t aspectNumerator = 0, aspectDenominator = 0;
    uint32_t profile = 0, level = 0, maxBFrames = 0;
    uint32_t displayWidth = 0, displayHeight = 0;
    // audio
    uint32_t sampleRate = 0, channels = 0, bitsPerSample = 0, bytesPerSecond = 0;
    std::vector<uint8_t> extradata;

    bool VariableFrameRate() const { return kind == MediaKind::kVideo && !(frameRate > 0); }
};

struct ProgramDesc {
    uint32_t number = 0;  // 1-based entry number
    bool outsidePrograms = false;  // the entry gathering streams of no program
    double duration = 0;
    uint32_t bitRate = 0;
    uint32_t subtitleCount = 0;
    std::vector<StreamDesc> video;
    std::vector<StreamDesc> audio;
};

// Every stream of the file as a copy sees it, data and attachments included.
struct TrackDesc {
    int32_t index = -1;
    std::optional<MediaKind> kind;  // none: data, attachments
    int32_t codecId = 0;
    std::string codecName;
    std::string language;  // "eng"; empty when untagged
    std::string title;
    uint32_t disposition = 0;  // KX_DISPOSITION_*

    bool CoverArt() const { return (disposition & KX_DISPOSITION_ATTACHED_PIC) != 0; }
};

struct FileDesc {
    std::string path;
    double duration = 0;  // seconds
    uint32_t bitRate = 0;
    std::vector<ProgramDesc> programs;
    std::vector<TrackDesc> tracks;  // by stream index

    // Every video and audio stream, ordered by stream index.
    std::vector<const StreamDesc*> Streams() const;
    const StreamDesc* FirstOf(MediaKind kind) const;
    const StreamDesc* FindStream(int32_t index) const;
    const TrackDesc* FindTrack(int32_t index) const;
    bool HasRealPrograms() const;
    int64_t DurationTicks() const;
};

// Asks the converter for the file's description; nullopt when it has none.
std::optional<FileDesc> DescribeFile(IStreamwright* converter, int64_t fileId);

}  // namespace kxcli
