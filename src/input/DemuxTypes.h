// Records that cross the demux layer's interfaces. Times are 100-ns ticks.
#pragma once

#include <cstdint>
#include <memory>

#include "KX_Remuxion.h"  // KeyFrameRecord

namespace kx {

struct SourceStream;

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kNoPts = INT64_MIN;  // AV_NOPTS_VALUE

// Media type codes of the demux layer.
enum class MediaType : int32_t { kNone = 0, kVideo = 1, kAudio = 2, kSubtitle = 3 };

// The current sample of a reader.
struct SampleInfo {
    int32_t streamIndex = 0;
    MediaType mediaType = MediaType::kNone;
    int64_t pts = 0;
    int64_t dts = 0;
    int64_t duration = 0;  // -1 for decoded video
    int32_t flags = 0;     // bit 0: key frame
};

// One decoded picture or block of PCM, owned by the reader's control.
struct DecodedFrame {
    MediaType type = MediaType::kNone;
    int64_t pts = -1;
    int64_t dts = -1;
    int32_t duration = -1;
    struct Video {
        int32_t width = 0;   // rounded up to even
        int32_t height = 0;  // rounded up to even
        uint8_t* y = nullptr;
        uint8_t* u = nullptr;
        uint8_t* v = nullptr;
        int32_t yRowLength = 0;
        int32_t uRowLength = 0;
        int32_t vRowLength = 0;
    } video;
    struct Audio {
        int32_t sampleRate = 0;
        int32_t bitsPerSample = 16;
        int32_t channels = 0;
        uint8_t* buffer = nullptr;
        int32_t bytesHeld = 0;
        int32_t capacity = 0;
    } audio;
    uint8_t* storage = nullptr;  // owned picture buffer (video)
    int32_t storageSize = 0;
};

// Growable array of key-frame records, 256 slots at a time.
struct KeyFrameIndex {
    KeyFrameRecord* entries = nullptr;
    int32_t lastSlot = -1;   // capacity - 1
    int32_t lastIndex = -1;  // count - 1
};

// Codec parameters of one stream, allocated by ITAnalyze::GetMediaInfo and
// released by ITAnalyze::FreeMediaInfo. Codec identifiers use the
// component's numbering (28 = H.264).
struct StreamMediaInfo {
    MediaType mediaType = MediaType::kNone;
    int32_t streamIndex = 0;
    int32_t codecId = 0;
    struct Video {
        int32_t width = 0;
        int32_t height = 0;
        int32_t bitRate = 0;
        int32_t codecTimeBase[2] = {0, 0};
        int32_t streamTimeBase[2] = {0, 0};
        int32_t ticksPerFrame = 0;
        int32_t pixelFormat = 0;
        int32_t profile = 0;
        int32_t level = 0;
        int32_t gopSize = 0;
        int32_t maxBFrames = 0;
        int32_t frameRate[2] = {0, 0};
        uint8_t* extradata = nullptr;
        int32_t extradataSize = 0;
        int32_t codecCapabilities = 0;
        int32_t displayWidth = 0;
        int32_t displayHeight = 0;
        int32_t displayMatrix[6] = {0, 0, 0, 0, 0, 0};  // [0][0] [0][1] [1][0] [1][1] [2][0] [2][1]
        int64_t startTime = 0;
    } video;
    struct Audio {
        int32_t bitRate = 0;
        int32_t sampleFormat = 0;
        int32_t sampleRate = 0;
        int32_t channels = 0;
        int32_t codecTimeBase[2] = {0, 0};
        int32_t streamTimeBase[2] = {0, 0};
        uint64_t channelLayout = 0;
        int32_t blockAlign = 0;
        int32_t ticksPerFrame = 0;
        uint8_t* extradata = nullptr;
        int32_t extradataSize = 0;
        int32_t codecTag = 0;
        int32_t codecCapabilities = 0;
        int32_t frameSize = 0;  // samples per frame, for containers that ask
    } audio;
    // Everything else an output copies from the stream (null when the
    // description was not taken from a file).
    std::shared_ptr<const SourceStream> source;
};

// Progress of a key-frame scan: (code 0x80001, percent, 0, context).
using AnalyzeProgressCallback = int32_t (*)(int32_t code, int64_t value, int64_t reserved, void* context);
constexpr int32_t kAnalyzeProgressCode = 0x80001;

}  // namespace kx
