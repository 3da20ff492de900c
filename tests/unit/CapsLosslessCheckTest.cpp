// The capability table: queries against table files written here, and the
// table shipped beside the library.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "caps/CodecNameTable.h"
#include "caps/LosslessCheck.h"
#include "output/MediaStreamPair.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "TaskTestSupport.h"

namespace {

// The pair of an H.264 (28) or other video stream and an optional audio stream.
struct Streams {
    kx::StreamMediaInfo video, audio;
    kx::MediaStreamPair pair;
    Streams(int32_t videoCodec, int32_t audioCodec) {
        video.mediaType = kx::MediaType::kVideo;
        video.codecId = videoCodec;
        audio.mediaType = kx::MediaType::kAudio;
        audio.codecId = audioCodec;
        pair.video = videoCodec ? &video : nullptr;
        pair.audio = audioCodec ? &audio : nullptr;
    }
};

std::string Map(const std::string& entries) {
    return "<?xml version=\"1.0\"?>\n<Quentara_XML><OUTPUT_MAP>" + entries + "</OUTPUT_MAP></Quentara_XML>\n";
}

const std::string kMp4 = "<MP4><VIDEO><H264/></VIDEO><AUDIO><AAC/><MP3/></AUDIO></MP4>";
constexpr int32_t kH264 = 28, kAac = 0x15002, kMp3 = 0x15001;
constexpr int kLoadFailed = -1, kNothingLogged = -2;

}  // namespace

TEST(CapsLosslessCheck, TableFilesAnswerWithTheLineHostsParse) {
    kx::BuildCodecNameTable();
    const struct {
        const char* what;
        std::optional<std::string> table;  // the file's bytes
        const char16_t* output;
        int32_t video, audio;
        bool accepted;
        int codecnum;  // of the failure line, or kLoadFailed / kNothingLogged
        const char16_t* fcc;
    } cases[] = {
        {"listed", Map(kMp4), u"/out/clip.mp4", kH264, kAac, true, kNothingLogged, u""},
        {"in any group", Map("<MP4><A><AAC/></A><B><X/><H264/></B></MP4>"), u"clip.Mp4", kH264, kAac, true,
         kNothingLogged, u""},
        {"extension in capitals only", Map("<mp4><V><H264/><AAC/></V></mp4>"), u"clip.mp4", kH264, kAac, false, 0,
         u"H264"},
        {"an empty entry ends the search", Map("<MP4/><MP4><V><H264/><AAC/></V></MP4>"), u"a.mp4", kH264, kAac, false,
         0, u"H264"},
        {"entries of one name pool their codecs", Map("<MP4><V><H264/></V></MP4><MP4><A><AAC/></A></MP4>"), u"a.mp4",
         kH264, kAac, true, kNothingLogged, u""},
        {"audio missing", Map("<MP4><V><H264/></V><A><MP3/></A></MP4>"), u"a.mp4", kH264, kAac, false, 2, u"AAC"},
        {"video reported first", Map("<MP4><A><AAC/></A></MP4>"), u"a.mp4", kH264, kMp3, false, 1, u"H264"},
        {"a short name NONE must be listed", Map(kMp4), u"a.mp4", 0xa8, 0, false, 3, u"NONE"},
        {"a number without a row", Map(kMp4), u"a.mp4", 0x12345, kAac, false, 3, u""},
        {"not our layout", "<OUTPUT_MAP>" + kMp4 + "</OUTPUT_MAP>", u"a.mp4", kH264, kAac, false, 0, u"H264"},
        {"no table", std::nullopt, u"a.mp4", kH264, kAac, false, kLoadFailed, u""},
        {"empty", "", u"a.mp4", kH264, kAac, false, kLoadFailed, u""},
        {"unclosed", "<Quentara_XML><OUTPUT_MAP><MP4><V><H264/></V></MP4>", u"a.mp4", kH264, kAac, false, kLoadFailed,
         u""},
        {"not text", "\x01\x02 not xml", u"a.mp4", kH264, kAac, false, kLoadFailed, u""},
        {"sound alone: judged by its codec", Map(kMp4), u"clip.mp4", 0, kAac, true, kNothingLogged, u""},
        {"no stream: refused before the file is read", std::nullopt, u"clip.mp4", 0, 0, false, kNothingLogged, u""},
    };
    const std::string folder = kxtest::TempFolder("caps");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = folder + "/" + c.what + ".xml";
        if (c.table) std::ofstream(path, std::ios::binary) << *c.table;
        const std::u16string table = kxtest::Wide(path);
        Streams streams(c.video, c.audio);
        kxtest::LogCapture log;
        EXPECT_EQ(kx::CheckMuxerValidWithTable(table.c_str(), c.output, &streams.pair), c.accepted);
        std::vector<std::u16string> logged;
        if (c.codecnum == kLoadFailed) logged = {FormatLogLine(kx::legacy::kTableLoadFailed, table.c_str())};
        if (c.codecnum >= 0) logged = {FormatLogLine(kx::legacy::kCodecNotListed, c.codecnum, c.fcc)};
        std::vector<std::u16string> lines;  // the table's own
        for (const auto& line : log.Lines())
            if (line.starts_with(u"CXml_Lossless")) lines.push_back(line);
        EXPECT_EQ(lines, logged);
    }
}

// The table beside the library, found by the output check; what it lists
// per codec is CapsContainerChoice.AgreesWithTheShippedTable's.
TEST(CapsLosslessCheck, ShippedTable) {
    const struct {
        const char16_t* name;
        int32_t video;
        int32_t audio;  // 0: no audio stream
        bool accepted;
    } cases[] = {
        {u"o.mp4", 28, 0x15002, true},  {u"o.MP4", 28, 0x15001, true}, {u"o.mp4", 28, 0x10000, false},
        {u"o.flv", 28, 0x15003, false}, {u"o.mp4", 28, 0, true},       {u"o.mp4", 0, 0x15002, true},
        {u"o.xyz", 28, 0x15002, false}, {u"o", 28, 0x15002, false},
    };
    kx::BuildCodecNameTable();
    for (const auto& c : cases) {
        Streams streams(c.video, c.audio);
        EXPECT_EQ(kx::CHECKMuxerValid(c.name, &streams.pair), c.accepted)
            << kxtest::Narrow(c.name) << " " << c.video << " " << c.audio;
    }
    EXPECT_FALSE(kx::CHECKMuxerValid(u"clip.mp4", nullptr));
    Streams h264(28, 0);
    EXPECT_FALSE(kx::CHECKMuxerValid(nullptr, &h264.pair));
}
