#include "MuxTestSupport.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include "input/CTSingleTDemuxer.h"
#include "media/MediaKernel.h"
#include "output/CTMuxer.h"
#include "TestSupport.h"

namespace muxtest {

namespace {

int64_t ToTicks(int64_t value, AVRational timeBase) {
    if (value == AV_NOPTS_VALUE) return value;
    return av_rescale(value * kx::kTicksPerSecond, timeBase.num, timeBase.den);
}

using kxtest::Quote;

void FillVideo(const AVStream* stream, kx::StreamMediaInfo::Video* video) {
    const AVCodecParameters* par = stream->codecpar;
    video->width = par->width;
    video->height = par->height;
    video->bitRate = static_cast<int32_t>(par->bit_rate);
    video->streamTimeBase[0] = stream->time_base.num;
    video->streamTimeBase[1] = stream->time_base.den;
    video->pixelFormat = par->format;
    video->profile = par->profile;
    video->level = par->level;
    video->frameRate[0] = stream->r_frame_rate.num;
    video->frameRate[1] = stream->r_frame_rate.den;
    const AVRational sar = par->sample_aspect_ratio;
    const bool square = sar.num == 0 || sar.den == 0;
    video->displayWidth = square ? par->width : par->width * sar.num;
    video->displayHeight = square ? par->height : par->height * sar.den;
    size_t size = 0;
    const auto* matrix = reinterpret_cast<const int32_t*>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size));
    if (matrix && size >= 9 * sizeof(int32_t)) {
        const int picks[6] = {0, 1, 3, 4, 6, 7};
        for (int i = 0; i < 6; ++i) video->displayMatrix[i] = matrix[picks[i]];
    }
}

void FillAudio(const AVStream* stream, kx::StreamMediaInfo::Audio* audio) {
    const AVCodecParameters* par = stream->codecpar;
    audio->bitRate = static_cast<int32_t>(par->bit_rate);
    audio->sampleFormat = par->format;
    audio->sampleRate = par->sample_rate;
    audio->channels = par->ch_layout.nb_channels;
    audio->codecTimeBase[0] = 1;
    audio->codecTimeBase[1] = par->sample_rate;
    audio->streamTimeBase[0] = stream->time_base.num;
    audio->streamTimeBase[1] = stream->time_base.den;
    audio->channelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
    audio->blockAlign = par->block_align;
    audio->frameSize = par->frame_size;
}

}  // namespace

SourceReader::SourceReader(const std::string& path) {
    if (avformat_open_input(&context_, path.c_str(), nullptr, nullptr) < 0) {
        context_ = nullptr;
        return;
    }
    if (avformat_find_stream_info(context_, nullptr) < 0) avformat_close_input(&context_);
}

SourceReader::~SourceReader() {
    if (context_) avformat_close_input(&context_);
}

int SourceReader::FirstStreamOf(kx::MediaType mediaType) const {
    if (!context_) return -1;
    const AVMediaType wanted = mediaType == kx::MediaType::kVideo ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    for (unsigned i = 0; i < context_->nb_streams; ++i)
        if (context_->streams[i]->codecpar->codec_type == wanted) return static_cast<int>(i);
    return -1;
}

kx::StreamMediaInfo* SourceReader::Info(int streamIndex) {
    if (!context_ || streamIndex < 0 || streamIndex >= static_cast<int>(context_->nb_streams)) return nullptr;
    auto found = records_.find(streamIndex);
    if (found != records_.end()) return &found->second->info;
    const AVStream* stream = context_->streams[streamIndex];
    const AVCodecParameters* par = stream->codecpar;
    auto record = std::make_unique<Record>();
    kx::StreamMediaInfo& info = record->info;
    info.streamIndex = streamIndex;
    info.codecId = kx::FromLibraryCodecId(par->codec_id);
    if (par->extradata_size > 0) record->extradata.assign(par->extradata, par->extradata + par->extradata_size);
    uint8_t* extradata = record->extradata.empty() ? nullptr : record->extradata.data();
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        info.mediaType = kx::MediaType::kVideo;
        FillVideo(stream, &info.video);
        info.video.extradata = extradata;
        info.video.extradataSize = par->extradata_size;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        info.mediaType = kx::MediaType::kAudio;
        FillAudio(stream, &info.audio);
        info.audio.extradata = extradata;
        info.audio.extradataSize = par->extradata_size;
    } else {
        return nullptr;
    }
    return &records_.emplace(streamIndex, std::move(record)).first->second->info;
}

bool SourceReader::Read(AVPacket* packet) {
    if (!context_ || av_read_frame(context_, packet) < 0) return false;
    const AVRational timeBase = context_->streams[packet->stream_index]->time_base;
    packet->pts = ToTicks(packet->pts, timeBase);
    packet->dts = ToTicks(packet->dts, timeBase);
    packet->duration = ToTicks(packet->duration, timeBase);
    return true;
}

CopyResult CopyThroughMuxer(const std::string& input, const std::string& output) {
    CopyResult result;
    kx::CTSingleTDemuxer demuxer;
    const std::u16string inputName = kxtest::Wide(input);
    if (demuxer.Open(inputName.c_str(), 0) != 0) return result;
    kx::ITAnalyze* analyze = demuxer.GetAnalyze();
    if (!analyze) return result;
    // The first video and the first audio stream, described by the analysis.
    kx::MediaStreamPair pair;
    for (int index = 0; index < 64 && (!pair.video || !pair.audio); ++index) {
        kx::StreamMediaInfo* info = analyze->GetMediaInfo(index);
        if (info && info->mediaType == kx::MediaType::kVideo && !pair.video)
            pair.video = info;
        else if (info && info->mediaType == kx::MediaType::kAudio && !pair.audio)
            pair.audio = info;
        else
            analyze->FreeMediaInfo(info);
    }

    CTMuxer muxer;
    const std::u16string name = kxtest::Wide(output);
    result.openResult = muxer.OpenMuxer(name.c_str(), &pair);
    if (result.openResult == 0) {
        for (kx::StreamMediaInfo* info : {pair.video, pair.audio}) {
            if (!info) continue;
            muxer.AddStream(info->streamIndex, info);
            demuxer.AddStream(info->streamIndex);
        }
        result.headerResult = muxer.WriteHeader();
    }
    analyze->FreeMediaInfo(pair.video);
    analyze->FreeMediaInfo(pair.audio);
    if (result.openResult != 0) return result;

    if (result.headerResult == 0 && demuxer.StartDemuxer() == 0) {
        kx::ITDemuxerControl* control = demuxer.GetControl();
        AVPacket* packet = av_packet_alloc();
        // Bounded, so that a reader that never ends fails the test instead of hanging it.
        for (int n = 0; n < 200000 && control->ReadNext() == 1 && control->GetPacket(packet) == 1; ++n) {
            control->SetSampleReady(0);  // taken: the next ReadNext reads on
            if (muxer.WritePacket(packet->stream_index, packet) < 0)
                ++result.writeFailures;
            else
                ++result.packetsWritten;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    result.closeResult = muxer.CloseMuxer();
    return result;
}

std::string OutputPath(const std::string& name) {
    const std::filesystem::path folder = std::filesystem::path(KX_BUILD_DIR) / "test_output" / "mux";
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / name;
    std::filesystem::remove(path);
    return path.string();
}

std::string ProbeStreams(const std::string& path) {
    // Flat output names top-level streams "streams.stream.N.key" (transport
    // streams list their streams under programs as well).
    const std::string text = kxtest::RunCommand(
        "ffprobe -v error -show_entries stream=codec_name,codec_type -of flat " + Quote(path) + " 2>&1");
    std::string result;
    std::istringstream lines(text);
    std::string line;
    std::string name;
    while (std::getline(lines, line)) {
        if (line.rfind("streams.stream.", 0) != 0) {
            if (line.rfind("programs.", 0) != 0) result += line + "\n";  // messages
            continue;
        }
        const size_t equals = line.find('=');
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        if (line.find(".codec_name=") != std::string::npos)
            name = value;
        else if (line.find(".codec_type=") != std::string::npos)
            result += name + "," + value + "\n";
    }
    return result;
}

std::string ProbeFormat(const std::string& path) {
    return kxtest::RunCommand("ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 " + Quote(path) +
                              " 2>&1");
}

std::string ProbeRotation(const std::string& path) {
    std::string text = kxtest::RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries stream_side_data=rotation -of csv=p=0 " + Quote(path) +
        " 2>&1");
    while (!text.empty() && (text.back() == '\n' || text.back() == ',')) text.pop_back();
    return text;
}

std::vector<std::vector<uint8_t>> ReadPayloads(const std::string& path, size_t limit, const char* format) {
    std::vector<std::vector<uint8_t>> payloads;
    // Without parsers: packets as the container stores them.
    AVFormatContext* context = avformat_alloc_context();
    context->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    const AVInputFormat* input = format ? av_find_input_format(format) : nullptr;
    if (avformat_open_input(&context, path.c_str(), input, nullptr) < 0) return payloads;
    AVPacket* packet = av_packet_alloc();
    while (payloads.size() < limit && av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == 0) payloads.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return payloads;
}

}  // namespace muxtest
