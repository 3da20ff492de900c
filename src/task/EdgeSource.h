// Reading the source around a frame-exact cut: the video stream and its
// parameter-set ids, key frames and the pictures that lead them, and the
// per-packet protocol of the passes that look ahead of the copy.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

#include "input/H264PacketForm.h"
#include "input/ITDemuxer.h"
#include "media/PictureReencoder.h"
#include "output/H264ParameterSetIds.h"
#include "output/HevcParameterSetIds.h"
#include "task/FileRecord.h"
#include "task/StreamDescriptions.h"

namespace kx {

class TaskHost;

namespace edgecut {

constexpr int64_t kToleranceTicks = 10'000;  // 1 ms: times converted between time bases
constexpr int kMaxPacketsToKeyFrame = 2000;  // a seek lands this close to its key frame or not at all

inline bool Near(int64_t t, int64_t key) {
    return t != AV_NOPTS_VALUE && t >= key - kToleranceTicks && t <= key + kToleranceTicks;
}
inline bool IsKey(const AVPacket* packet) { return (packet->flags & AV_PKT_FLAG_KEY) != 0; }
// Decoding order has passed a clip's end (a picture decoded, or a key frame
// shown, at or after it): nothing that follows is shown before the end.
inline bool PastClipEnd(const AVPacket* packet, int64_t end) {
    return (packet->dts != AV_NOPTS_VALUE && packet->dts >= end - kToleranceTicks) ||
           (IsKey(packet) && packet->pts != AV_NOPTS_VALUE && packet->pts >= end - kToleranceTicks);
}
inline double Seconds(int64_t ticks) { return static_cast<double>(ticks) / 10'000'000.0; }

std::string SecondsText(int64_t ticks);

enum class Read { kGot, kStopped, kRanOut };

// The per-packet protocol without the engine's log lines: the passes that
// look ahead are not the clip's copy.
Read ReadPacket(TaskHost& host, ITDemuxerControl* control, AVPacket* packet);

// Puts the reader at the key frame at `time`, or, when it cannot seek by
// time, at the file's start: the caller reads on to the key frame.
void PositionAtKey(ITDemuxerControl* control, int64_t time, bool canSeek);

struct VideoSource {
    int streamIndex = -1;
    DescriptionPtr description{nullptr, DescriptionDeleter{}};
    const AVCodecParameters* parameters = nullptr;
    H264PacketForm form;
    bool IsHevc() const { return parameters->codec_id == AV_CODEC_ID_HEVC; }
};

// Fills `video` for the file's stream `streamIndex`: false when the stream
// has no description.
bool DescribeVideoSource(const FileRecord& file, int streamIndex, VideoSource* video);

// The parameter-set ids the source's sets use, in its description and its packets.
struct SourceSetIds {
    ParameterSetIds h264;
    HevcParameterSetIds hevc;
};

void CollectPacketSetIds(const VideoSource& video, const AVPacket* packet, SourceSetIds* ids);

// Whether the source names a set with an id the encoded pictures' sets use.
bool IdsClash(const VideoSource& video, const SourceSetIds& ids, const EncoderSettings& settings);

enum class KeyKind {
    kIdr,   // nothing after it refers before it
    kOpen,  // an open group's start: pictures after it may refer before it
};

KeyKind KindOfKey(const VideoSource& video, const AVPacket* packet);

// A picture shown before its key frame (at keyPts) and decoded after it:
// HEVC names them, H.264 only shows them earlier.
bool IsLeadingPicture(const VideoSource& video, const AVPacket* packet, int64_t keyPts);

// Whether decoding order has passed a clip's end. An open group's key frame
// shown at or after the end may still be followed by its leading pictures,
// shown before it: the end is passed at the first picture after it that is
// not one of them.
class ClipEndWatch {
public:
    ClipEndWatch(const VideoSource& video, int64_t end) : video_(video), end_(end) {}
    bool Passed(const AVPacket* packet);

private:
    const VideoSource& video_;
    const int64_t end_;
    bool keyShownAfter_ = false;
    int64_t keyPts_ = 0;
};

// A key frame the cut relies on, as the reader hands it out.
struct KeyPacket {
    int64_t pts = 0;
    int64_t delay = 0;  // pts - dts
    KeyKind kind = KeyKind::kOpen;
};

}  // namespace edgecut
}  // namespace kx
