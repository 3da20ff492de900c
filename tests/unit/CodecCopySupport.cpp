#include "CodecCopySupport.h"

#include <cstring>
#include <utility>

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/error.h>
}

#include "media/MediaKernel.h"

namespace kxtest {

namespace {

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// The library's own message when it gave one, else the error code's text.
std::string Why(const std::string& step, const kx::MediaErrorCapture& capture, int error) {
    return step + ": " + (capture.LastError().empty() ? ErrorText(error) : capture.LastError());
}

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (!(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using Output = std::unique_ptr<AVFormatContext, OutputCloser>;

struct EncoderCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

Input OpenInput(const std::string& path, int* error) {
    AVFormatContext* context = nullptr;
    *error = avformat_open_input(&context, path.c_str(), nullptr, nullptr);
    if (*error < 0) return nullptr;
    Input input(context);
    *error = avformat_find_stream_info(context, nullptr);
    return *error < 0 ? nullptr : std::move(input);
}

void AddSegment(std::vector<uint8_t>& out, uint8_t type, const std::vector<uint8_t>& payload) {
    out.push_back(type);
    out.push_back(static_cast<uint8_t>(payload.size() >> 8));
    out.push_back(static_cast<uint8_t>(payload.size() & 0xff));
    out.insert(out.end(), payload.begin(), payload.end());
}

// The reader that must recognise a writer's files: the one of the writer's
// own name, except for writers of a variant of another container.
const char* ReaderOf(const std::string& writer) {
    static const std::pair<const char*, const char*> variants[] = {
        {"ipod", "mov"}, {"dvd", "mpeg"}, {"svcd", "mpeg"}, {"vob", "mpeg"}, {"opus", "ogg"}, {"adts", "aac"},
    };
    for (const auto& [variant, reader] : variants)
        if (writer == variant) return reader;
    return writer.c_str();
}

// Readers of MP4 and transport streams name every MPEG audio layer "mp3"
// until a frame is decoded; the packets are the ones written.
bool SameCodec(AVCodecID written, AVCodecID read) {
    return read == written || (written == AV_CODEC_ID_MP2 && read == AV_CODEC_ID_MP3);
}

}  // namespace

StreamSample::StreamSample() : parameters(avcodec_parameters_alloc()) {}

StreamSample::~StreamSample() {
    for (AVPacket* packet : packets) av_packet_free(&packet);
    avcodec_parameters_free(&parameters);
}

void StreamSample::AddPacket(const std::vector<uint8_t>& bytes, int64_t pts, int64_t duration, bool key) {
    AVPacket* packet = av_packet_alloc();
    if (av_new_packet(packet, static_cast<int>(bytes.size())) < 0) {
        av_packet_free(&packet);
        return;
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());
    packet->pts = packet->dts = pts;
    packet->duration = duration;
    if (key) packet->flags |= AV_PKT_FLAG_KEY;
    packets.push_back(packet);
}

std::unique_ptr<StreamSample> ReadStreamSample(const std::string& path, std::string* why) {
    kx::InitMediaKernel();
    kx::MediaErrorCapture capture;
    int error = 0;
    Input input = OpenInput(path, &error);
    if (!input || input->nb_streams == 0) {
        *why = Why("cannot read " + path, capture, error);
        return nullptr;
    }
    auto sample = std::make_unique<StreamSample>();
    const AVStream* stream = input->streams[0];
    avcodec_parameters_copy(sample->parameters, stream->codecpar);
    sample->timeBase = stream->time_base;
    sample->frameRate = stream->avg_frame_rate;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(input.get(), packet) >= 0) {
        if (packet->stream_index == 0) {
            AVPacket* kept = av_packet_alloc();
            av_packet_move_ref(kept, packet);
            sample->packets.push_back(kept);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return sample;
}

std::unique_ptr<StreamSample> EncodeBitmapSubtitles(AVCodecID codec, std::string* why) {
    const AVCodec* encoder = avcodec_find_encoder(codec);
    if (!encoder) {
        *why = std::string("no encoder for ") + avcodec_get_name(codec);
        return nullptr;
    }
    std::unique_ptr<AVCodecContext, EncoderCloser> context(avcodec_alloc_context3(encoder));
    context->width = 720;
    context->height = 576;
    context->time_base = AVRational{1, 1000};
    if (const int error = avcodec_open2(context.get(), encoder, nullptr); error < 0) {
        *why = "cannot open the " + std::string(encoder->name) + " encoder: " + ErrorText(error);
        return nullptr;
    }

    // A 16x8 picture in four colours: a frame around a filled middle.
    uint8_t pixels[16 * 8];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) pixels[y * 16 + x] = (y == 0 || y == 7 || x == 0 || x == 15) ? 2 : 1 + (x & 1) * 2;
    uint32_t palette[4] = {0x00000000, 0xffffffff, 0xff000000, 0xff808080};
    AVSubtitleRect rect = {};
    rect.x = 352;
    rect.y = 500;
    rect.w = 16;
    rect.h = 8;
    rect.nb_colors = 4;
    rect.type = SUBTITLE_BITMAP;
    rect.data[0] = pixels;
    rect.linesize[0] = 16;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette);
    rect.linesize[1] = sizeof palette;
    AVSubtitleRect* rects[] = {&rect};

    auto sample = std::make_unique<StreamSample>();
    for (int cue = 0; cue < kSubtitleCues; ++cue) {
        AVSubtitle subtitle = {};
        subtitle.start_display_time = 0;
        subtitle.end_display_time = 400;
        subtitle.num_rects = 1;
        subtitle.rects = rects;
        subtitle.pts = int64_t(cue) * AV_TIME_BASE / 2;
        std::vector<uint8_t> bytes(64 * 1024);
        const int size =
            avcodec_encode_subtitle(context.get(), bytes.data(), static_cast<int>(bytes.size()), &subtitle);
        if (size <= 0) {
            *why = "the " + std::string(encoder->name) + " encoder made nothing: " + ErrorText(size);
            return nullptr;
        }
        bytes.resize(static_cast<size_t>(size));
        sample->AddPacket(bytes, cue * 500, 400, true);
    }
    avcodec_parameters_from_context(sample->parameters, context.get());
    return sample;
}

std::unique_ptr<StreamSample> MakePgsSubtitles() {
    auto sample = std::make_unique<StreamSample>();
    AVCodecParameters* parameters = sample->parameters;
    parameters->codec_type = AVMEDIA_TYPE_SUBTITLE;
    parameters->codec_id = AV_CODEC_ID_HDMV_PGS_SUBTITLE;
    parameters->width = 720;
    parameters->height = 480;

    // Display sets that show a 4x2 object at (100, 400) and take it away in
    // turn. Segments: presentation 0x16, window 0x17, palette 0x14, object
    // 0x15, end 0x80.
    const std::vector<uint8_t> window = {1, 0, 0, 100, 1, 144, 0, 4, 0, 2};
    for (int set = 0; set < kSubtitleCues; ++set) {
        const auto number = static_cast<uint8_t>(set + 1);
        std::vector<uint8_t> bytes;
        if (set % 2 == 0) {
            AddSegment(bytes, 0x16, {2, 208, 1, 224, 0x10, 0, number, 0x80, 0, 0, 1, 0, 0, 0, 0, 0, 100, 1, 144});
            AddSegment(bytes, 0x17, window);
            AddSegment(bytes, 0x14, {0, 0, 1, 235, 128, 128, 255});
            AddSegment(bytes, 0x15, {0, 0, 0, 0xc0, 0, 0, 16, 0, 4, 0, 2, 1, 1, 1, 1, 0, 0, 1, 1, 1, 1, 0, 0});
        } else {
            AddSegment(bytes, 0x16, {2, 208, 1, 224, 0x10, 0, number, 0x00, 0, 0, 0});
            AddSegment(bytes, 0x17, window);
        }
        AddSegment(bytes, 0x80, {});
        sample->AddPacket(bytes, set * 500, set % 2 == 0 ? 500 : 0, true);
    }
    return sample;
}

CopyOutcome CopyThrough(const StreamSample& sample, const std::string& path, const char* writer) {
    CopyOutcome outcome;
    kx::InitMediaKernel();
    // Most pairs asked about are refused; the reason is kept, not printed.
    kx::SilenceMediaLibraryLog();
    kx::MediaErrorCapture capture;
    const AVCodecID codec = sample.parameters->codec_id;
    std::string writerName;
    {
        AVFormatContext* context = nullptr;
        avformat_alloc_output_context2(&context, nullptr, writer, path.c_str());
        if (!context) {
            outcome.why = "no writer for " + path;
            return outcome;
        }
        Output output(context);
        writerName = context->oformat->name;
        outcome.query = avformat_query_codec(context->oformat, codec, FF_COMPLIANCE_NORMAL);
        AVStream* stream = avformat_new_stream(context, nullptr);
        avcodec_parameters_copy(stream->codecpar, sample.parameters);
        stream->codecpar->codec_tag = 0;
        stream->time_base = sample.timeBase;
        stream->avg_frame_rate = stream->r_frame_rate = sample.frameRate;
        int error = 0;
        if (!(context->oformat->flags & AVFMT_NOFILE) &&
            (error = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
            outcome.why = Why("create", capture, error);
            return outcome;
        }
        if ((error = avformat_write_header(context, nullptr)) < 0) {
            outcome.why = Why("header", capture, error);
            return outcome;
        }
        for (const AVPacket* source : sample.packets) {
            AVPacket* packet = av_packet_clone(source);
            packet->stream_index = 0;
            av_packet_rescale_ts(packet, sample.timeBase, stream->time_base);
            error = av_interleaved_write_frame(context, packet);
            av_packet_free(&packet);
            if (error < 0) {
                outcome.why = Why("packet", capture, error);
                return outcome;
            }
        }
        if ((error = av_write_trailer(context)) < 0) {
            outcome.why = Why("trailer", capture, error);
            return outcome;
        }
    }

    int error = 0;
    Input input = OpenInput(path, &error);
    if (!input) {
        outcome.why = Why("reading back", capture, error);
        return outcome;
    }
    // A raw writer copies any bytes; what it made is told by what reads it.
    if (!av_match_name(ReaderOf(writerName), input->iformat->name)) {
        outcome.why = "read back as a file of " + std::string(input->iformat->name) + ", not " + writerName;
        return outcome;
    }
    int index = -1;
    std::string found;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecID id = input->streams[i]->codecpar->codec_id;
        found += std::string(found.empty() ? "" : ", ") + avcodec_get_name(id);
        if (SameCodec(codec, id) && index < 0) index = static_cast<int>(i);
    }
    if (index < 0) {
        outcome.why = "read back as [" + found + "]";
        return outcome;
    }
    size_t count = 0;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(input.get(), packet) >= 0) {
        if (packet->stream_index == index) ++count;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (count != sample.packets.size()) {
        outcome.why =
            "read back " + std::to_string(count) + " of " + std::to_string(sample.packets.size()) + " packets";
        return outcome;
    }
    outcome.stored = true;
    return outcome;
}

}  // namespace kxtest
