// The steps the two media fuzz targets take on an arbitrary byte string read
// as an input file from memory, through the same opening rules and readers
// the converter uses. No file is written or read, so that an input costs
// what the parsers cost.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/log.h>
}

#include "FuzzSupport.h"
#include "input/CTMediaInfo.h"
#include "input/CTMultiDemuxer.h"
#include "input/CTSingleTDemuxer.h"
#include "input/InputOpen.h"

namespace kxfuzz {

// Media targets read at most this much; the open's own bounds cap time and memory.
constexpr size_t kMaxMediaInput = 128u << 10;
constexpr int kMaxPackets = 2000;
constexpr int kDecodedFrames = 4;


inline kx::InputSource MemorySource(const uint8_t* data, size_t size) {
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    return kx::InputSource::Memory(bytes, u"fuzz input");
}

struct FirstStreams {
    int32_t video = -1;
    int32_t audio = -1;
};

inline FirstStreams FindFirstStreams(const FileMediaInfo* info) {
    FirstStreams found;
    for (uint32_t p = 0; info && info->programs && p < info->programCount; ++p) {
        const ProgramInfo& program = info->programs[p];
        if (found.video < 0 && program.videoCount > 0 && program.videos)
            found.video = static_cast<int32_t>(program.videos[0].streamIndex);
        if (found.audio < 0 && program.audioCount > 0 && program.audios)
            found.audio = static_cast<int32_t>(program.audios[0].streamIndex);
    }
    return found;
}

// An input with its media information, as the converter reads it first.
struct DescribedInput {
    kx::InputSource source;
    kx::CTMediaInfo description;
    FirstStreams streams;
};

// False for an input over the size cap or one that does not open (which
// must say why).
inline bool Describe(const uint8_t* data, size_t size, DescribedInput* input) {
    if (size > kMaxMediaInput) return false;
    input->source = MemorySource(data, size);
    if (input->description.OpenMediaSource(input->source) != 0) {
        KX_FUZZ_CHECK(input->description.LastProblem().Failed());
        return false;
    }
    input->streams = FindFirstStreams(input->description.GetMediainfo());
    if (Verbose()) std::fprintf(stderr, "video %d audio %d\n", input->streams.video, input->streams.audio);
    return true;
}

// As the converter does: the described context becomes the first reader's.
inline bool OpenReaders(kx::CTMultiDemuxer& demuxer, DescribedInput& input, const std::vector<int32_t>& wanted) {
    demuxer.Initialize();
    if (demuxer.OpenSource(input.source, 0) != 0) return false;
    demuxer.OfferOpenedContext(input.description.TakeOpenedContext());
    bool any = false;
    for (int32_t stream : wanted)
        if (stream >= 0) any |= demuxer.AddStream(stream) == 0;
    return any;
}

inline void ScanKeyFrames(kx::ITAnalyze* analyze, int32_t video) {
    if (!analyze || video < 0) return;
    const kx::KeyFrameIndex* index = analyze->GetKeyFrameIndex(video);
    if (index) KX_FUZZ_CHECK(index->lastIndex <= index->lastSlot);
}

// The search near a few times, as a split at given times makes it: the
// records come in rising time order without repeats.
inline void FindKeyFramesAround(kx::ITAnalyze* analyze, int32_t video) {
    if (!analyze || video < 0) return;
    const auto found = analyze->GetKeyFramesAround(video, {10'000'000, 50'000'000, 1});
    if (!found) return;
    for (size_t i = 1; i < found->size(); ++i) KX_FUZZ_CHECK((*found)[i - 1].time < (*found)[i].time);
}

// The stream description opens a decoder of its own.
inline void DescribeStream(kx::ITAnalyze* analyze, int32_t stream) {
    if (!analyze || stream < 0) return;
    if (kx::StreamMediaInfo* info = analyze->GetMediaInfo(stream)) analyze->FreeMediaInfo(info);
}

// Every packet the readers hand out and the end-of-input judgement; with
// seekBack, then again from the middle.
inline void ReadPackets(kx::ITDemuxerControl* control, bool seekBack) {
    if (!control) return;
    AVPacket* packet = av_packet_alloc();
    if (!packet) return;
    control->SetHoldSample(1);
    int64_t last = 0;
    for (int pass = 0; pass < (seekBack ? 2 : 1); ++pass) {
        int count = 0;
        while (count++ < kMaxPackets && control->ReadNext() == 1) {
            if (control->GetPacket(packet) == 1) last = packet->pts;
            av_packet_unref(packet);
        }
        const kx::InputEnd end = control->GetInputEnd();
        if (end.kind == kx::InputEndKind::kEarly) KX_FUZZ_CHECK(end.reachedTicks < end.expectedTicks);
        if (pass == 0 && seekBack)
            control->Seek(static_cast<double>(last > 0 ? last : 0) / 2e7, kx::SeekMode::kBackwardKey, -1);
    }
    av_packet_free(&packet);
}

inline void DecodeSome(const kx::InputSource& source, int32_t stream) {
    if (stream < 0) return;
    kx::CTSingleTDemuxer reader;
    if (reader.OpenWith(source, 1, nullptr) != 0 || reader.AddStream(stream) != 0) return;
    reader.StartDemuxer();
    kx::ITDemuxerControl* control = reader.GetControl();
    for (int i = 0; control && i < kDecodedFrames && control->ReadNext() == 1; ++i) control->GetDecodedFrame();
}

}  // namespace kxfuzz

// Each media target is a program of its own, with this set-up.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kxfuzz::QuietLogs();
    // The media library reports every broken input; only our own lines matter here.
    if (!kxfuzz::Verbose()) av_log_set_level(AV_LOG_QUIET);
    return 0;
}
