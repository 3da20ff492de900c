// The shipped capability table against FFmpeg's own container writers: each
// codec an extension lists is stored by that writer and read back intact,
// and each codec of the examined set it leaves out is refused by it (or left
// out for a reason written here), so the table neither over- nor under-claims.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "CodecCopySupport.h"
#include "TestSupport.h"
#include "caps/ContainerChoice.h"
#include "media/MediaKernel.h"
#include "output/CTMuxer.h"
#include "output/MediaStreamPair.h"

namespace {

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

// An output extension people use, and the codecs its writer stores that the
// table leaves out all the same, each with the reason.
struct ExtensionCase {
    const char* extension;
    std::map<std::string, const char*> leftOut;
};

void PrintTo(const ExtensionCase& c, std::ostream* out) { *out << c.extension; }

const char kAudioByName[] = "an .m4a file is audio by name; the same writer makes .m4v files for video";
const char kHevcForm[] =
    "program-stream writers take HEVC only with start codes, and the output code converts H.264 alone: HEVC from "
    "MP4 or Matroska would be written unreadable";
const char kOpusByName[] =
    "an .opus file is Ogg with Opus alone; its writer is the Ogg writer and takes what Ogg takes";

// MKS (Matroska subtitles) has no writer in FFmpeg 5.1: nothing is stored.
const ExtensionCase kExtensions[] = {
    {"MP4", {}},
    {"M4V", {}},
    {"M4A", {{"H264", kAudioByName}, {"MPEG4", kAudioByName}}},
    {"MOV", {}},
    {"MKV", {}},
    {"MKA", {}},
    {"MKS", {}},
    {"WEBM", {}},
    {"TS", {}},
    {"MTS", {}},
    {"M2TS", {}},
    {"AVI", {}},
    {"FLV", {}},
    {"MPG", {{"HEVC", kHevcForm}}},
    {"MPEG", {{"HEVC", kHevcForm}}},
    {"VOB", {{"HEVC", kHevcForm}}},
    {"MP3", {}},
    {"AAC", {}},
    {"AC3", {}},
    {"FLAC", {}},
    {"OGG", {}},
    {"OPUS", {{"VP8", kOpusByName}, {"VORBIS", kOpusByName}, {"FLAC", kOpusByName}}},
    {"WAV", {}},
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
                for (int cue = 0; cue < kxtest::kSubtitleCues; ++cue)
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

std::unique_ptr<kxtest::StreamSample> MakeSample(const CodecCase& c, std::string* why) {
    switch (c.input) {
        case SampleInput::kBitmaps:
            return kxtest::EncodeBitmapSubtitles(c.codec, why);
        case SampleInput::kPgs:
            return kxtest::MakePgsSubtitles();
        default: {
            const std::string path = SampleFile(c, why);
            return path.empty() ? nullptr : kxtest::ReadStreamSample(path, why);
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

class CapsTableAgainstMuxers : public ::testing::TestWithParam<ExtensionCase> {};

}  // namespace

TEST_P(CapsTableAgainstMuxers, ListsExactlyWhatTheWriterStores) {
    const ExtensionCase& extension = GetParam();
    const auto table = ShippedTable();
    ASSERT_FALSE(table.empty()) << "cannot read " << ShippedTablePath();
    const auto entry = table.find(extension.extension);
    const std::set<std::string> listed = entry == table.end() ? std::set<std::string>() : entry->second;
    for (const CodecCase& c : kCodecs) {
        std::string why;
        const auto sample = MakeSample(c, &why);
        ASSERT_TRUE(sample) << why;
        ASSERT_EQ(sample->parameters->codec_id, c.codec) << c.shortName << " sample";
        const std::string fileName = ::testing::TempDir() + "kx_caps_" + std::to_string(getpid()) + "_" +
                                     Lower(c.shortName) + "." + Lower(extension.extension);
        const kxtest::CopyOutcome outcome = kxtest::CopyThrough(*sample, fileName, WriterFor(fileName, c));
        std::filesystem::remove(fileName);
        const bool takes = outcome.query != 0 && outcome.stored;
        if (listed.count(c.shortName)) {
            EXPECT_FALSE(extension.leftOut.count(c.shortName)) << extension.extension << " lists " << c.shortName;
            EXPECT_TRUE(takes) << extension.extension << " lists " << c.shortName << ", but "
                               << (outcome.query == 0 ? "the writer says it cannot take it" : outcome.why);
        } else if (!extension.leftOut.count(c.shortName)) {
            EXPECT_FALSE(takes) << extension.extension << " does not list " << c.shortName
                                << ", yet the writer stores it";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Extensions, CapsTableAgainstMuxers, ::testing::ValuesIn(kExtensions),
                         [](const auto& info) { return std::string(info.param.extension); });

// Nothing in the table escapes the test above.
TEST(CapsTableAgainstMuxersScope, TableNamesOnlyExaminedExtensionsAndCodecs) {
    std::set<std::string> extensions, codecs;
    for (const auto& e : kExtensions) extensions.insert(e.extension);
    for (const auto& c : kCodecs) codecs.insert(c.shortName);
    const auto table = ShippedTable();
    ASSERT_FALSE(table.empty());
    for (const auto& [extension, names] : table) {
        EXPECT_TRUE(extensions.count(extension)) << extension << " is not examined";
        for (const auto& name : names) EXPECT_TRUE(codecs.count(name)) << extension << " lists " << name;
    }
}

// The same questions through the code that answers hosts: the extensions a
// codec may go to, and the exported yes/no, agree with the table for every
// examined pair.
TEST(CapsContainerChoice, AgreesWithTheShippedTable) {
    const auto table = ShippedTable();
    ASSERT_FALSE(table.empty());
    for (const CodecCase& c : kCodecs) {
        const int32_t id = kx::FromLibraryCodecId(c.codec);
        std::vector<std::string> expected;
        for (const auto& [extension, names] : table)
            if (names.count(c.shortName)) expected.push_back("." + Lower(extension));
        std::vector<std::string> taking = kx::ExtensionsTaking(id);
        std::sort(taking.begin(), taking.end());
        EXPECT_EQ(taking, expected) << c.shortName;
        for (const ExtensionCase& e : kExtensions) {
            const bool listed = table.count(e.extension) && table.at(e.extension).count(c.shortName);
            EXPECT_EQ(KX_IsCodecAllowedIn(kxtest::Wide(Lower(e.extension)).c_str(), id), listed ? 1 : 0)
                << e.extension << " " << c.shortName;
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

// A table written here: entries of one name pool their codecs, an empty
// entry ends its name's search, and names no output extension can have are
// never answered, as in the output check.
TEST(CapsContainerChoice, ReadsATableTheWayTheOutputCheckDoes) {
    const std::string path = ::testing::TempDir() + "kx_choice_" + std::to_string(getpid()) + ".xml";
    std::ofstream(path) << "<?xml version=\"1.0\"?>\n<Quentara_XML><OUTPUT_MAP>"
                           "<MP4><V><H264/></V><A><AAC/></A></MP4>"
                           "<mkv><V><H264/><MP3/></V></mkv>"
                           "<TS/><TS><V><H264/></V></TS>"
                           "<MKV><X><H264/><AC3/></X></MKV>"
                           "<LONGERTHAN9><V><H264/></V></LONGERTHAN9>"
                           "<M4_X><A><MP3/></A></M4_X><M.P3><A><MP3/></A></M.P3>"
                           "<MKV><A><AAC/></A></MKV>"
                           "</OUTPUT_MAP></Quentara_XML>\n";
    const std::u16string table = kxtest::Wide(path);
    const struct {
        int32_t codec;
        std::vector<std::string> extensions;
    } cases[] = {
        {28, {".mp4", ".mkv"}}, {0x15002, {".mp4", ".mkv"}}, {0x15003, {".mkv"}}, {0x15001, {".m4_x"}}, {0x12345, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(kx::ExtensionsTaking(table.c_str(), c.codec), c.extensions) << c.codec;
    std::filesystem::remove(path);
    EXPECT_TRUE(kx::ExtensionsTaking(table.c_str(), 28).empty());
    EXPECT_TRUE(kx::ExtensionsTaking(nullptr, 28).empty());
}
