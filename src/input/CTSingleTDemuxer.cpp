#include "input/CTSingleTDemuxer.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "input/ContextFeed.h"
#include "input/DemuxTime.h"
#include "input/InputLimits.h"
#include "input/VideoKeyFrame.h"
#include "platform/WideString.h"

namespace kx {

namespace {

MediaType MediaTypeFor(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO: return MediaType::kVideo;
        case AVMEDIA_TYPE_AUDIO: return MediaType::kAudio;
        case AVMEDIA_TYPE_SUBTITLE: return MediaType::kSubtitle;
        default: return MediaType::kNone;
    }
}

}  // namespace

CTSingleTDemuxer::~CTSingleTDemuxer() { Close(); }

int CTSingleTDemuxer::Close() {
    control_.reset();  // frees its packet, frame and decoded-frame records
    streams_.clear();  // frees every stream's codec context
    ownFeed_.reset();
    if (shared_)
        format_ = nullptr;
    else
        CloseInput(&format_);
    shared_.reset();
    analyze_.reset();  // and its key-frame index
    started_ = 0;
    return 0;
}

int CTSingleTDemuxer::Open(const char16_t* path, int decodeMode) {
    if (!path) return -1;
    return OpenWith(InputSource::File(path), decodeMode, nullptr);
}

int CTSingleTDemuxer::OpenWith(const InputSource& source, int decodeMode, AVFormatContext* opened) {
    // The same checks either way, so that a shared context never opens what
    // a fresh open would refuse.
    auto refuse = [this, &opened](InputProblem problem) {
        CloseInput(&opened);
        problem_ = std::move(problem);
        return -1;
    };
    if (format_) Close();
    problem_ = {};
    if (source.path.size() >= kPathCapacity)  // would not fit the path field
        return refuse({InputFault::kNameTooLong, std::to_string(WideToUtf8(source.path).size())});
    WideCopy(path_, kPathCapacity, source.path.c_str());

    AVFormatContext* format = opened;
    if (!format) {
        OpenedInput input = OpenInput(source, ProbeDepth::kStreamInfo);
        if (!input.context) return refuse(std::move(input.problem));
        format = input.context;
    }
    format_ = format;
    ownFeed_ = std::make_unique<ContextFeed>(format_, decodeMode == 0);
    SetUpReading(source, decodeMode);
    control_->SetFeed(ownFeed_.get());
    return 0;
}

int CTSingleTDemuxer::OpenShared(std::shared_ptr<SharedInput> input, int decodeMode) {
    if (format_) Close();
    problem_ = {};
    if (!input || !input->Context()) return -1;
    shared_ = std::move(input);
    format_ = shared_->Context();
    SetUpReading(shared_->Source(), decodeMode);
    return 0;
}

void CTSingleTDemuxer::SetUpReading(const InputSource& source, int decodeMode) {
    GenerateMissingPtsAsReaders(format_);
    decodeMode_ = decodeMode;
    fileBytes_ = source.bytes ? static_cast<int64_t>(source.bytes->size()) : CurrentInputBytes(format_);

    analyze_ = std::make_unique<CTSingleAnalyze>();
    control_ = std::make_unique<CTSingleDemuxerControl>();
    analyze_->Attach(format_);
    control_->Initialize(format_, decodeMode);
    analyze_->SetRewindListener([control = control_.get()] { control->ForgetReadAhead(); });
}

int CTSingleTDemuxer::AddStream(int streamIndex) {
    if (started_ || !format_) return -1;
    if (streamIndex < 0 || streamIndex >= static_cast<int>(format_->nb_streams)) return -1;
    AVStream* stream = format_->streams[streamIndex];
    const MediaType mediaType = MediaTypeFor(stream->codecpar->codec_type);
    if (mediaType == MediaType::kNone) return -1;
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) return -1;
    if (streams_.count(streamIndex)) return 0;
    if (shared_ && !streams_.empty()) return -1;  // a reader of a shared file reads one stream

    // Only decode mode decodes: a packet reader needs no decoder of its own,
    // whose context alone is a large zeroed block per stream.
    CodecContextPtr context;
    if (decodeMode_ != 0) {
        context.reset(avcodec_alloc_context3(decoder));
        if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) return -1;
        context->pkt_timebase = stream->time_base;
        context->max_pixels = PictureCeiling(fileBytes_);
        avcodec_open2(context.get(), decoder, nullptr);  // one that will not open gives no frames
    }

    StreamEntry entry;
    entry.streamIndex = streamIndex;
    entry.mediaType = mediaType;
    entry.codecContext = std::move(context);
    entry.decoder = decoder;
    entry.startTime = StreamStartTicks(stream);
    entry.audioClock = entry.startTime;
    entry.bitstreamForm = BitstreamFormOfStream(stream->codecpar);
    streams_.emplace(streamIndex, std::move(entry));
    if (shared_)
        control_->SetFeed(shared_->LaneOf(streamIndex));
    else
        ApplyDiscard();
    return 0;
}

void CTSingleTDemuxer::ApplyDiscard() {
    // The demuxer skips what nobody reads, so several readers of one file
    // cost about one pass of I/O.
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        format_->streams[i]->discard = streams_.count(static_cast<int>(i)) ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

int CTSingleTDemuxer::StartDemuxer() {
    if (!control_) return -1;
    started_ = 1;
    control_->AttachStreams(&streams_);
    SetTimeZero(EarliestStartTicks());
    return 0;
}

int64_t CTSingleTDemuxer::EarliestStartTicks() const {
    bool any = false;
    int64_t earliest = 0;
    for (const auto& [index, entry] : streams_) {
        const AVStream* stream = format_ ? format_->streams[index] : nullptr;
        if (!stream || stream->start_time == AV_NOPTS_VALUE) continue;
        const int64_t start = StreamTimeToTicks(stream->start_time, stream->time_base) + CodecDelayTicks(format_, stream);
        earliest = any ? std::min(earliest, start) : start;
        any = true;
    }
    return earliest;
}

void CTSingleTDemuxer::UseKeyFramesFound(std::shared_ptr<const FilePassKeyFrames> found) {
    if (analyze_) analyze_->UseKeyFramesFound(std::move(found));
}

void CTSingleTDemuxer::SetTimeZero(int64_t ticks) {
    if (control_) control_->SetTimeZero(ticks);
    if (analyze_) analyze_->SetTimeZero(ticks);
}

ITAnalyze* CTSingleTDemuxer::GetAnalyze() {
    return analyze_ && analyze_->IsReady() ? analyze_.get() : nullptr;
}

MediaType CTSingleTDemuxer::MediaTypeOf(int streamIndex) const {
    auto it = streams_.find(streamIndex);
    return it == streams_.end() ? MediaType::kNone : it->second.mediaType;
}

}  // namespace kx
