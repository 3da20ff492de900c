// An arbitrary byte string as an input file, read from memory through the
// same opening rules and readers the converter uses: the media information
// (with its packet count), a multi-reader demuxer with the key-frame scan,
// every packet it hands out, and the end-of-input judgement. No file is
// written or read, so that an input costs what the parsers cost. Every input
// reads its first video stream (else its first audio stream); one in
// kDeepShare also reads the audio beside the video, describes the video
// stream, seeks back into the middle and reads on, and decodes a few
// frames: the steps that open the input or a decoder again, or read twice.
// Inputs are capped at 128 KB; the open's own bounds cap time and memory.
#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/log.h>
}

#include "FuzzSupport.h"
#include "demux/CTMultiDemuxer.h"
#include "demux/CTSingleTDemuxer.h"
#include "demux/InputOpen.h"
#include "mux/CTMediaInfo.h"

namespace {

constexpr size_t kMaxInput = 128u << 10;
constexpr int kMaxPackets = 2000;
constexpr int kDecodedFrames = 4;
constexpr unsigned kDeepShare = 8;

// The same answer for the same bytes, so that a finding replays.
bool ReadsDeeply(const uint8_t* data, size_t size) {
    unsigned sum = static_cast<unsigned>(size);
    for (size_t i = 0; i < size && i < 64; ++i) sum = sum * 31 + data[i];
    return sum % kDeepShare == 0;
}

struct Streams {
    int32_t video = -1;
    int32_t audio = -1;
};

Streams FirstStreams(const FileMediaInfo* info) {
    Streams found;
    for (uint32_t p = 0; info && info->programs && p < info->programCount; ++p) {
        const ProgramInfo& program = info->programs[p];
        if (found.video < 0 && program.videoCount > 0 && program.videos)
            found.video = static_cast<int32_t>(program.videos[0].streamIndex);
        if (found.audio < 0 && program.audioCount > 0 && program.audios)
            found.audio = static_cast<int32_t>(program.audios[0].streamIndex);
    }
    return found;
}

void ScanKeyFrames(kx::ITAnalyze* analyze, int32_t video, bool deep) {
    if (!analyze || video < 0) return;
    const kx::KeyFrameIndex* index = analyze->GetKeyFrameIndex(video);
    if (index) KX_FUZZ_CHECK(index->lastIndex <= index->lastSlot);
    // The stream description opens a decoder of its own.
    if (!deep) return;
    if (kx::StreamMediaInfo* info = analyze->GetMediaInfo(video)) analyze->FreeMediaInfo(info);
}

// Every packet the readers hand out; deeply, then again from the middle.
void ReadPackets(kx::ITDemuxerControl* control, bool deep) {
    if (!control) return;
    AVPacket* packet = av_packet_alloc();
    if (!packet) return;
    control->SetHoldSample(1);
    int64_t last = 0;
    for (int pass = 0; pass < 2; ++pass) {
        int count = 0;
        while (count++ < kMaxPackets && control->ReadNext() == 1) {
            if (control->GetPacket(packet) == 1) last = packet->pts;
            av_packet_unref(packet);
        }
        const kx::InputEnd end = control->GetInputEnd();
        if (end.kind == kx::InputEndKind::kEarly) KX_FUZZ_CHECK(end.reachedTicks < end.expectedTicks);
        if (!deep) break;
        if (pass == 0) control->Seek(static_cast<double>(last > 0 ? last : 0) / 2e7, 0, -1);
    }
    av_packet_free(&packet);
}

void DecodeSome(const kx::InputSource& source, int32_t stream) {
    if (stream < 0) return;
    kx::CTSingleTDemuxer reader;
    if (reader.OpenWith(source, 1, nullptr) != 0 || reader.AddStream(stream) != 0) return;
    reader.StartDemuxer();
    kx::ITDemuxerControl* control = reader.GetControl();
    for (int i = 0; control && i < kDecodedFrames && control->ReadNext() == 1; ++i) control->GetDecodedFrame();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kxfuzz::QuietLogs();
    // The media library reports every broken input; only our own lines matter here.
    if (!kxfuzz::Verbose()) av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    const kx::InputSource source = kx::InputSource::Memory(bytes, u"fuzz input");

    kx::CTMediaInfo description;
    if (description.OpenMediaSource(source) != 0) {
        KX_FUZZ_CHECK(description.LastProblem().Failed());
        return 0;
    }
    const Streams streams = FirstStreams(description.GetMediainfo());
    if (kxfuzz::Verbose()) std::fprintf(stderr, "video %d audio %d\n", streams.video, streams.audio);

    // As the converter does: the described context becomes the first reader's.
    kx::CTMultiDemuxer demuxer;
    demuxer.Initialize();
    if (demuxer.OpenSource(source, 0) != 0) return 0;
    demuxer.OfferOpenedContext(description.TakeOpenedContext());
    const bool deep = ReadsDeeply(data, size);
    bool any = false;
    if (streams.video >= 0) any |= demuxer.AddStream(streams.video) == 0;
    if (streams.audio >= 0 && (deep || !any)) any |= demuxer.AddStream(streams.audio) == 0;
    if (!any) return 0;
    ScanKeyFrames(demuxer.GetAnalyze(), streams.video, deep);
    demuxer.StartDemuxer();
    ReadPackets(demuxer.GetControl(), deep);
    if (deep) DecodeSome(source, streams.video);
    return 0;
}
