// The shipped capability table against FFmpeg's own container writers: each
// codec an extension lists is stored by that writer and read back intact,
// and each codec of the examined set it leaves out is refused by it (or left
// out for a reason written here), so the table neither over- nor under-claims.
// The writers are driven with the libavformat API on tiny streams of one codec.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/error.h>
}

#include <pugixml.hpp>

#include "TestSupport.h"
#include "caps/ContainerChoice.h"
#include "media/MediaKernel.h"
#include "output/CTMuxer.h"
#include "output/MediaStreamPair.h"

namespace {

// The packets of one stream and what a writer is told about it.
struct StreamSample {
    StreamSample() : parameters(avcodec_parameters_alloc()) {}
    ~StreamSample() {
        for (AVPacket* packet : packets) av_packet_free(&packet);
        avcodec_parameters_free(&parameters);
    }
    StreamSample(const StreamSample&) = delete;
    StreamSample& operator=(const StreamSample&) = delete;
    void AddPacket(const std::vector<uint8_t>& bytes, int64_t pts, int64_t duration) {
        AVPacket* packet = av_packet_alloc();
        av_new_packet(packet, static_cast<int>(bytes.size()));
        std::memcpy(packet->data, bytes.data(), bytes.size());
        packet->pts = packet->dts = pts;
        packet->duration = duration;
        packet->flags |= AV_PKT_FLAG_KEY;
        packets.push_back(packet);
    }

    AVCodecParameters* parameters;
    AVRational timeBase{1, 1000};
    AVRational frameRate{0, 1};
    std::vector<AVPacket*> packets;
};

// Cues in each subtitle sample: enough that a reader tells a transport or
// program stream from a bare subtitle file.
constexpr int kSubtitleCues = 8;

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// The first stream of a file, every packet of it; null with the reason in `why`.
std::unique_ptr<StreamSample> ReadStreamSample(const std::string& path, std::string* why) {
    kx::InitMediaKernel();
    int error = 0;
    const kxtest::MediaInput input = kxtest::OpenMediaInput(path, &error);
    if (!input || input->nb_streams == 0) {
        *why = "cannot read " + path + ": " + ErrorText(error);
        return nullptr;
    }
    auto sample = std::make_unique<StreamSample>();
    const AVStream* stream = input->streams[0];
    avcodec_parameters_copy(sample->parameters, stream->codecpar);
    sample->timeBase = stream->time_base;
    sample->frameRate = stream->avg_frame_rate;
    kxtest::ForEachPacket(input.get(), [&](AVPacket* packet) {
        if (packet->stream_index == 0) sample->packets.push_back(av_packet_clone(packet));
    });
    return sample;
}

// Bitmap subtitles, encoded in this process: the ffmpeg program turns text
// into text only, so there is no file to start from.
std::unique_ptr<StreamSample> EncodeBitmapSubtitles(AVCodecID codec, std::string* why) {
    const AVCodec* encoder = avcodec_find_encoder(codec);
    if (!encoder) {
        *why = std::string("no encoder for ") + avcodec_get_name(codec);
        return nullptr;
    }
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> context(
        avcodec_alloc_context3(encoder), [](AVCodecContext* c) { avcodec_free_context(&c); });
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
        subtitle.end_display_time = 400;
        subtitle.num_rects = 1;
        subtitle.rects = rects;
        subtitle.pts = int64_t(cue) * AV_TIME_BASE / 2;
        std::vector<uint8_t> bytes(64 * 1024);
        const int size = avcodec_encode_subtitle(context.get(), bytes.data(), int(bytes.size()), &subtitle);
        if (size <= 0) {
            *why = "the " + std::string(encoder->name) + " encoder made nothing: " + ErrorText(size);
            return nullptr;
        }
        bytes.resize(static_cast<size_t>(size));
        sample->AddPacket(bytes, cue * 500, 400);
    }
    avcodec_parameters_from_context(sample->parameters, context.get());
    return sample;
}

void AddSegment(std::vector<uint8_t>& out, uint8_t type, const std::vector<uint8_t>& payload) {
    out.insert(out.end(), {type, static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())});
    out.insert(out.end(), payload.begin(), payload.end());
}

// Blu-ray (PGS) subtitles, written here byte by byte: FFmpeg has no encoder.
// Display sets that show a 4x2 object at (100, 400) and take it away in
// turn. Segments: presentation 0x16, window 0x17, palette 0x14, object 0x15,
// end 0x80.
std::unique_ptr<StreamSample> MakePgsSubtitles() {
    auto sample = std::make_unique<StreamSample>();
    sample->parameters->codec_type = AVMEDIA_TYPE_SUBTITLE;
    sample->parameters->codec_id = AV_CODEC_ID_HDMV_PGS_SUBTITLE;
    sample->parameters->width = 720;
    sample->parameters->height = 480;
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
        sample->AddPacket(bytes, set * 500, set % 2 == 0 ? 500 : 0);
    }
    return sample;
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

// What a writer did with a sample.
struct CopyOutcome {
    int query = 0;        // avformat_query_codec at normal compliance: 1 yes, 0 no, < 0 not known
    bool stored = false;  // written, and read back as the same codec with every packet
    std::string why;      // when not stored: the step that failed, in the library's words
};

// Writes the sample alone into `path` with the writer named `writer` (null:
// the one FFmpeg picks by the file name), then reads the file back.
CopyOutcome CopyThrough(const StreamSample& sample, const std::string& path, const char* writer) {
    CopyOutcome outcome;
    kx::InitMediaKernel();
    kx::SilenceMediaLibraryLog();  // most pairs asked about are refused; the reason is kept, not printed
    kx::MediaErrorCapture capture;
    const auto failed = [&](const std::string& step, int error = 0) {
        outcome.why =
            error == 0 ? step : step + ": " + (capture.LastError().empty() ? ErrorText(error) : capture.LastError());
        return outcome;
    };
    const AVCodecID codec = sample.parameters->codec_id;
    AVFormatContext* context = nullptr;
    avformat_alloc_output_context2(&context, nullptr, writer, path.c_str());
    if (!context) return failed("no writer for " + path);
    const auto closeOutput = [](AVFormatContext* c) {
        if (!(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
        avformat_free_context(c);
    };
    std::unique_ptr<AVFormatContext, decltype(closeOutput)> output(context, closeOutput);
    const std::string writerName = context->oformat->name;
    outcome.query = avformat_query_codec(context->oformat, codec, FF_COMPLIANCE_NORMAL);
    AVStream* stream = avformat_new_stream(context, nullptr);
    avcodec_parameters_copy(stream->codecpar, sample.parameters);
    stream->codecpar->codec_tag = 0;
    stream->time_base = sample.timeBase;
    stream->avg_frame_rate = stream->r_frame_rate = sample.frameRate;
    int error = 0;
    if (!(context->oformat->flags & AVFMT_NOFILE) &&
        (error = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
        return failed("create", error);
    if ((error = avformat_write_header(context, nullptr)) < 0) return failed("header", error);
    for (const AVPacket* source : sample.packets) {
        AVPacket* packet = av_packet_clone(source);
        av_packet_rescale_ts(packet, sample.timeBase, stream->time_base);
        error = av_interleaved_write_frame(context, packet);
        av_packet_free(&packet);
        if (error < 0) return failed("packet", error);
    }
    if ((error = av_write_trailer(context)) < 0) return failed("trailer", error);
    output.reset();

    const kxtest::MediaInput input = kxtest::OpenMediaInput(path, &error);
    if (!input) return failed("reading back", error);
    // A raw writer copies any bytes; what it made is told by what reads it.
    if (!av_match_name(ReaderOf(writerName), input->iformat->name))
        return failed("read back as a file of " + std::string(input->iformat->name) + ", not " + writerName);
    // Readers of MP4 and transport streams name every MPEG audio layer "mp3"
    // until a frame is decoded; the packets are the ones written.
    int index = -1;
    std::string found;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecID id = input->streams[i]->codecpar->codec_id;
        found += std::string(found.empty() ? "" : ", ") + avcodec_get_name(id);
        if (index < 0 && (id == codec || (codec == AV_CODEC_ID_MP2 && id == AV_CODEC_ID_MP3))) index = int(i);
    }
    if (index < 0) return failed("read back as [" + found + "]");
    size_t count = 0;
    kxtest::ForEachPacket(input.get(), [&](AVPacket* packet) { count += packet->stream_index == index; });
    if (count != sample.packets.size())
        return failed("read back " + std::to_string(count) + " of " + std::to_string(sample.packets.size()));
    outcome.stored = true;
    return outcome;
}

// How a codec's sample stream is made.
enum class SampleInput {
    kPictures,  // five 64x64 pictures, encoded by the ffmpeg program
    kSound,     // a quarter second of stereo at 48 kHz, encoded by the ffmpeg program
    kCues,      // subtitle cues, converted by the ffmpeg program
    kBitmaps,   // bitmap subtitles, encoded in this process
    kPgs,       // Blu-ray subtitles, written byte by byte
};

struct CodecCase {
    const char* shortName;  // as the capability table names it
    AVCodecID codec;
    SampleInput input;
    const char* encode;     // ffmpeg output options
    const char* container;  // of the sample file
};

const CodecCase kCodecs[] = {
    {"H264", AV_CODEC_ID_H264, SampleInput::kPictures, "-c:v libx264 -pix_fmt yuv420p", "ts"},
    {"HEVC", AV_CODEC_ID_HEVC, SampleInput::kPictures, "-c:v libx265 -pix_fmt yuv420p -x265-params log-level=error",
     "ts"},
    {"AV1", AV_CODEC_ID_AV1, SampleInput::kPictures, "-c:v libaom-av1 -cpu-used 8 -pix_fmt yuv420p", "webm"},
    {"VP9", AV_CODEC_ID_VP9, SampleInput::kPictures, "-c:v libvpx-vp9 -deadline realtime -cpu-used 8", "webm"},
    {"VP8", AV_CODEC_ID_VP8, SampleInput::kPictures, "-c:v libvpx -deadline realtime", "webm"},
    {"MPEG1", AV_CODEC_ID_MPEG1VIDEO, SampleInput::kPictures, "-c:v mpeg1video", "mpg"},
    {"MPEG2", AV_CODEC_ID_MPEG2VIDEO, SampleInput::kPictures, "-c:v mpeg2video", "ts"},
    {"MPEG4", AV_CODEC_ID_MPEG4, SampleInput::kPictures, "-c:v mpeg4", "avi"},
    {"MJPEG", AV_CODEC_ID_MJPEG, SampleInput::kPictures, "-c:v mjpeg -pix_fmt yuvj420p", "avi"},
    {"PRORES", AV_CODEC_ID_PRORES, SampleInput::kPictures, "-c:v prores_ks -pix_fmt yuv422p10le", "mov"},
    {"AAC", AV_CODEC_ID_AAC, SampleInput::kSound, "-c:a aac", "m4a"},
    {"MP3", AV_CODEC_ID_MP3, SampleInput::kSound, "-c:a libmp3lame", "mp3"},
    {"MP2", AV_CODEC_ID_MP2, SampleInput::kSound, "-c:a mp2", "mp2"},
    {"AC3", AV_CODEC_ID_AC3, SampleInput::kSound, "-c:a ac3", "ac3"},
    {"EAC3", AV_CODEC_ID_EAC3, SampleInput::kSound, "-c:a eac3", "eac3"},
    // FFmpeg's DTS and TrueHD encoders are experimental; the streams they
    // make are ordinary ones.
    {"DTS", AV_CODEC_ID_DTS, SampleInput::kSound, "-c:a dca -strict -2", "dts"},
    {"TRUEHD", AV_CODEC_ID_TRUEHD, SampleInput::kSound, "-c:a truehd -strict -2", "thd"},
    {"OPUS", AV_CODEC_ID_OPUS, SampleInput::kSound, "-c:a libopus", "opus"},
    {"VORBIS", AV_CODEC_ID_VORBIS, SampleInput::kSound, "-c:a libvorbis", "ogg"},
    {"FLAC", AV_CODEC_ID_FLAC, SampleInput::kSound, "-c:a flac", "flac"},
    {"ALAC", AV_CODEC_ID_ALAC, SampleInput::kSound, "-c:a alac", "m4a"},
    // PCM names every PCM form; 16-bit little-endian at 48 kHz is the one
    // video files carry. (FLV takes PCM only at 44.1 kHz and its fractions.)
    {"PCM", AV_CODEC_ID_PCM_S16LE, SampleInput::kSound, "-c:a pcm_s16le", "wav"},
    {"MOVTEXT", AV_CODEC_ID_MOV_TEXT, SampleInput::kCues, "-c:s mov_text", "mp4"},
    {"SUBRIP", AV_CODEC_ID_SUBRIP, SampleInput::kCues, "-c:s srt", "srt"},
    {"ASS", AV_CODEC_ID_ASS, SampleInput::kCues, "-c:s ass", "ass"},
    {"WEBVTT", AV_CODEC_ID_WEBVTT, SampleInput::kCues, "-c:s webvtt", "vtt"},
    {"PGS", AV_CODEC_ID_HDMV_PGS_SUBTITLE, SampleInput::kPgs, "", ""},
    {"DVBSUB", AV_CODEC_ID_DVB_SUBTITLE, SampleInput::kBitmaps, "", ""},
    {"DVDSUB", AV_CODEC_ID_DVD_SUBTITLE, SampleInput::kBitmaps, "", ""},
};

const char kAudioByName[] = "an .m4a file is audio by name; the same writer makes .m4v files for video";
const char kHevcForm[] =
    "program-stream writers take HEVC only with start codes, and the output code converts H.264 alone: HEVC from "
    "MP4 or Matroska would be written unreadable";
const char kOpusByName[] =
    "an .opus file is Ogg with Opus alone; its writer is the Ogg writer and takes what Ogg takes";

// The output extensions people use. MKS (Matroska subtitles) has no writer in
// FFmpeg 5.1: nothing is stored.
const char* const kExtensions[] = {"MP4", "M4V", "M4A",  "MOV",  "MKV", "MKA",  "MKS",  "WEBM",
                                   "TS",  "MTS", "M2TS", "AVI",  "FLV", "MPG",  "MPEG", "VOB",
                                   "MP3", "AAC", "AC3",  "FLAC", "OGG", "OPUS", "WAV"};

// Codecs a writer stores that the table leaves out all the same, each with the reason.
const std::map<std::string, std::map<std::string, const char*>> kLeftOut = {
    {"M4A", {{"H264", kAudioByName}, {"MPEG4", kAudioByName}}},
    {"MPG", {{"HEVC", kHevcForm}}},
    {"MPEG", {{"HEVC", kHevcForm}}},
    {"VOB", {{"HEVC", kHevcForm}}},
    {"OPUS", {{"VP8", kOpusByName}, {"VORBIS", kOpusByName}, {"FLAC", kOpusByName}}},
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ShippedTablePath() { return std::string(KX_BUILD_DIR) + "/LossLess_xml.xml"; }

// Extension -> the codec names its entries list, read with no help from the
// code under test.
std::map<std::string, std::set<std::string>> ShippedTable() {
    std::map<std::string, std::set<std::string>> table;
    pugi::xml_document document;
    if (!document.load_file(ShippedTablePath().c_str())) return table;
    for (pugi::xml_node entry : document.child("Quentara_XML").child("OUTPUT_MAP").children())
        for (pugi::xml_node group : entry.children())
            for (pugi::xml_node codec : group.children()) table[entry.name()].insert(codec.name());
    return table;
}

// The sample file of a codec, made once per build folder. Written under a
// name of its own and then renamed, so that a test making the same file
// beside it never reads half a file.
std::string SampleFile(const CodecCase& c, std::string* why) {
    const std::string folder = std::string(KX_BUILD_DIR) + "/caps_samples";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/" + Lower(c.shortName) + "." + c.container;
    if (std::filesystem::exists(path)) return path;
    std::string input;
    switch (c.input) {
        case SampleInput::kPictures:
            input = "-f lavfi -i testsrc2=size=64x64:rate=25 -frames:v 5";
            break;
        case SampleInput::kSound:
            input = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.25 -ac 2";
            break;
        case SampleInput::kCues: {
            const std::string cues = folder + "/cues.srt";
            const std::string written = cues + ".tmp" + std::to_string(getpid());
            {
                std::ofstream file(written);
                for (int cue = 0; cue < kSubtitleCues; ++cue)
                    file << cue + 1 << "\n00:00:0" << cue << ",000 --> 00:00:0" << cue << ",500\nCue " << cue + 1
                         << "\n\n";
            }
            std::filesystem::rename(written, cues);
            input = "-i " + cues;
            break;
        }
        default:
            return "";
    }
    const std::string temporary = folder + "/tmp" + std::to_string(getpid()) + "." + c.container;
    int exitCode = 0;
    const std::string output = kxtest::RunCommand(
        "ffmpeg -nostdin -v error -y " + input + " " + c.encode + " " + temporary + " 2>&1", &exitCode);
    if (exitCode != 0) {
        *why = "ffmpeg could not make the " + std::string(c.shortName) + " sample: " + output;
        std::filesystem::remove(temporary);
        return "";
    }
    std::filesystem::rename(temporary, path);
    return path;
}

std::unique_ptr<StreamSample> MakeSample(const CodecCase& c, std::string* why) {
    switch (c.input) {
        case SampleInput::kBitmaps:
            return EncodeBitmapSubtitles(c.codec, why);
        case SampleInput::kPgs:
            return MakePgsSubtitles();
        default: {
            const std::string path = SampleFile(c, why);
            return path.empty() ? nullptr : ReadStreamSample(path, why);
        }
    }
}

// The writer the output code picks for a file holding this stream alone.
const char* WriterFor(const std::string& fileName, const CodecCase& c) {
    kx::StreamMediaInfo stream;
    stream.codecId = kx::FromLibraryCodecId(c.codec);
    kx::MediaStreamPair pair;
    if (c.input == SampleInput::kPictures) pair.video = &stream;
    if (c.input == SampleInput::kSound) pair.audio = &stream;
    return CTMuxer::GetOutputFormatName(kxtest::Wide(fileName).c_str(), &pair);
}

class CapsTableAgainstMuxers : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(CapsTableAgainstMuxers, ListsExactlyWhatTheWriterStores) {
    const std::string extension = GetParam();
    const auto reasons = kLeftOut.find(extension);
    const auto leftOut = [&](const char* codec) { return reasons != kLeftOut.end() && reasons->second.count(codec); };
    const auto table = ShippedTable();
    ASSERT_FALSE(table.empty()) << "cannot read " << ShippedTablePath();
    const auto entry = table.find(extension);
    const std::set<std::string> listed = entry == table.end() ? std::set<std::string>() : entry->second;
    for (const CodecCase& c : kCodecs) {
        std::string why;
        const auto sample = MakeSample(c, &why);
        ASSERT_TRUE(sample) << why;
        ASSERT_EQ(sample->parameters->codec_id, c.codec) << c.shortName << " sample";
        const std::string fileName = ::testing::TempDir() + "kx_caps_" + std::to_string(getpid()) + "_" +
                                     Lower(c.shortName) + "." + Lower(extension);
        const CopyOutcome outcome = CopyThrough(*sample, fileName, WriterFor(fileName, c));
        std::filesystem::remove(fileName);
        const bool takes = outcome.query != 0 && outcome.stored;
        if (listed.count(c.shortName)) {
            EXPECT_FALSE(leftOut(c.shortName)) << extension << " lists " << c.shortName;
            EXPECT_TRUE(takes) << extension << " lists " << c.shortName << ", but "
                               << (outcome.query == 0 ? "the writer says it cannot take it" : outcome.why);
        } else if (!leftOut(c.shortName)) {
            EXPECT_FALSE(takes) << extension << " does not list " << c.shortName << ", yet the writer stores it";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Extensions, CapsTableAgainstMuxers, ::testing::ValuesIn(kExtensions),
                         [](const auto& info) { return std::string(info.param); });

// Nothing in the table escapes the test above; and the code that answers
// hosts (the extensions a codec may go to, the exported yes/no) agrees with
// the table for every examined pair.
TEST(CapsContainerChoice, AgreesWithTheShippedTable) {
    const auto table = ShippedTable();
    ASSERT_FALSE(table.empty());
    std::set<std::string> codecs;
    for (const auto& c : kCodecs) codecs.insert(c.shortName);
    for (const auto& [extension, names] : table) {
        EXPECT_NE(std::ranges::find(kExtensions, extension), std::end(kExtensions)) << extension << " is not examined";
        for (const auto& name : names) EXPECT_TRUE(codecs.count(name)) << extension << " lists " << name;
    }
    for (const CodecCase& c : kCodecs) {
        const int32_t id = kx::FromLibraryCodecId(c.codec);
        std::vector<std::string> expected;
        for (const auto& [extension, names] : table)
            if (names.count(c.shortName)) expected.push_back("." + Lower(extension));
        std::vector<std::string> taking = kx::ExtensionsTaking(id);
        std::sort(taking.begin(), taking.end());
        EXPECT_EQ(taking, expected) << c.shortName;
        for (const std::string e : kExtensions) {
            const bool listed = table.count(e) && table.at(e).count(c.shortName);
            EXPECT_EQ(KX_IsCodecAllowedIn(kxtest::Wide(Lower(e)).c_str(), id), listed ? 1 : 0)
                << e << " " << c.shortName;
        }
    }
}

TEST(CapsContainerChoice, ExtensionSpellings) {
    const struct {
        const char16_t* extension;
        int32_t codec;
        int32_t allowed;
    } cases[] = {
        {u".mkv", 28, 1},      {u"mkv", 28, 1},  {u".MKV", 28, 1}, {u"Mkv", KX_CODEC_HEVC, 1}, {u".mp4", 0x17005, 1},
        {u".mkv", 0x17005, 0}, {u"", 28, 0},     {u".", 28, 0},    {nullptr, 28, 0},           {u"..mkv", 28, 0},
        {u"a.mkv", 28, 0},     {u".xyz", 28, 0}, {u".mkv", 0, 0},  {u".mkv", 0x12345, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KX_IsCodecAllowedIn(c.extension, c.codec), c.allowed)
            << (c.extension ? kxtest::Narrow(c.extension) : "null") << " " << c.codec;
}
