// The whole-file media information reader, judged against ffprobe. Inputs it
// refuses are BadInputFiles' (through AddFile, which opens them with it).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "caps/CodecNameTable.h"
#include "input/CTMediaInfo.h"
#include "media/MediaKernel.h"
#include "TestSupport.h"

namespace {

// ffprobe's flat output as key -> value (quotes removed).
class Probe {
public:
    explicit Probe(const std::string& path) {
        std::istringstream in(kxtest::RunCommand(
            "ffprobe -v error -show_format -show_streams -show_programs -of flat " + kxtest::Quote(path)));
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string value = line.substr(eq + 1);
            if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
            values_[line.substr(0, eq)] = value;
        }
    }
    bool Has(const std::string& key) const { return values_.count(key) != 0; }
    std::string Text(const std::string& key) const { return Has(key) ? values_.at(key) : ""; }
    // N/A and absent read as 0.
    double Number(const std::string& key) const {
        const std::string text = Text(key);
        return text.empty() || text == "N/A" ? 0 : std::stod(text);
    }
    // Two numbers around the separator ("25/1", "1:1"); 0 and 1 when absent.
    std::pair<double, double> Pair(const std::string& key, char separator) const {
        const std::string text = Text(key);
        const size_t at = text.find(separator);
        if (at == std::string::npos) return {0, 1};
        return {std::stod(text.substr(0, at)), std::stod(text.substr(at + 1))};
    }
    static std::string Stream(int index, const std::string& field) {
        return "streams.stream." + std::to_string(index) + "." + field;
    }

private:
    std::map<std::string, std::string> values_;
};

// ffprobe's packets against its base rate: frames over the span of their
// times, more than 10 % off the base rate, make a variable rate.
bool ProbedVariableRate(const std::vector<kxtest::Packet>& packets, double baseRate) {
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (const auto& p : packets) {
        if (p.pts == kx::kNoPts) continue;
        first = std::min(first, p.pts);
        last = std::max(last, p.pts);
    }
    if (packets.size() < 2 || last <= first || !(baseRate > 0)) return false;
    const double mean =
        static_cast<double>(packets.size() - 1) * kx::kTicksPerSecond / static_cast<double>(last - first);
    return std::fabs(mean - baseRate) > 0.1 * baseRate;
}

void CompareWithProbe(const std::string& name, bool variableRate) {
    SCOPED_TRACE(name);
    const std::string path = kxtest::Fixture(name);
    const Probe probe(path);
    ASSERT_TRUE(probe.Has("format.duration")) << "ffprobe failed";
    kx::CTMediaInfo reader;
    ASSERT_EQ(reader.OpenMediaFile(kxtest::Wide(path).c_str()), 0);
    const FileMediaInfo* info = reader.GetMediainfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(kxtest::Narrow(info->path), path);
    const double fileSeconds = probe.Number("format.duration");
    EXPECT_NEAR(info->duration, fileSeconds, 1e-5);
    const double fileBits = probe.Number("format.size") * 8;
    EXPECT_NEAR(static_cast<double>(info->totalBitRate), fileBits / fileSeconds, fileBits / fileSeconds * 0.01 + 1);

    // Programs, and the extra entry for streams outside every program.
    int programs = 0;
    std::map<int, uint32_t> programOf;  // stream index -> entry number
    for (; probe.Has("programs.program." + std::to_string(programs) + ".program_id"); ++programs) {
        const std::string prefix = "programs.program." + std::to_string(programs) + ".streams.stream.";
        for (int s = 0; probe.Has(prefix + std::to_string(s) + ".index"); ++s)
            programOf[static_cast<int>(probe.Number(prefix + std::to_string(s) + ".index"))] = programs + 1;
    }
    int streams = 0;
    while (probe.Has(Probe::Stream(streams, "index"))) ++streams;
    const bool extra = static_cast<int>(programOf.size()) < streams;
    EXPECT_EQ(info->hasExtra, extra ? 1u : 0u);
    ASSERT_EQ(info->programCount, static_cast<uint32_t>(programs + (extra ? 1 : 0)));

    // Programs last as long as the file and carry their streams' bit rates.
    std::map<uint32_t, std::pair<const MediaStreamRecord*, uint32_t>> records;  // by stream index, with the entry
    for (uint32_t e = 0; e < info->programCount; ++e) {
        const ProgramInfo& entry = info->programs[e];
        EXPECT_EQ(entry.number, e + 1);
        EXPECT_NEAR(entry.duration, fileSeconds, 1e-5) << "entry " << e;
        uint32_t sum = 0;
        for (const auto& [array, count] : {std::pair{entry.videos, entry.videoCount}, {entry.audios, entry.audioCount}})
            for (uint32_t i = 0; i < count; ++i) {
                sum += array[i].bitRate;
                records[array[i].streamIndex] = {&array[i], entry.number};
            }
        EXPECT_EQ(entry.bitRate, sum) << "entry " << e;
    }

    for (int s = 0; s < streams; ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        const std::string type = probe.Text(Probe::Stream(s, "codec_type"));
        if (type != "video" && type != "audio") {
            EXPECT_EQ(records.count(s), 0u);
            continue;
        }
        ASSERT_EQ(records.count(s), 1u);
        const MediaStreamRecord& r = *records.at(s).first;
        EXPECT_EQ(records.at(s).second, programOf.count(s) ? programOf[s] : programs + 1);
        const uint32_t idProgram = programOf.count(s) ? programOf[s] : 1;
        EXPECT_EQ(r.streamId, static_cast<int32_t>(idProgram * 65536 + (type == "audio" ? 0x4000 : 0) + s));
        EXPECT_STREQ(r.codecName, probe.Text(Probe::Stream(s, "codec_name")).c_str());
        const AVCodecID codec = avcodec_descriptor_get_by_name(r.codecName)->id;
        EXPECT_EQ(r.codecId, static_cast<uint32_t>(kx::FromLibraryCodecId(codec)));
        double seconds = probe.Number(Probe::Stream(s, "duration"));
        if (seconds <= 0.1) seconds = fileSeconds;
        EXPECT_NEAR(r.duration, seconds, 1e-5);
        // Bit rates that the library estimates while probing (transport
        // streams) depend on how much was read: 2 %. Where the container
        // gives none, the description measures one: within 3 % of ffprobe's
        // packet sizes over the stream's duration.
        const double bitRate = probe.Number(Probe::Stream(s, "bit_rate"));
        if (bitRate > 0) {
            EXPECT_NEAR(r.bitRate, bitRate, bitRate * 0.02 + 1);
        } else if (av_get_exact_bits_per_sample(codec) > 0) {
            EXPECT_NEAR(r.bitRate, r.bytesPerSecond * 8, r.bytesPerSecond * 0.16 + 1);
        } else {
            double bytes = 0;
            for (const auto& p : kxtest::ProbeTicks(path, s)) bytes += p.size;
            EXPECT_NEAR(r.bitRate, bytes * 8 / seconds, bytes * 8 / seconds * 0.03);
        }
        if (type == "audio") {
            EXPECT_EQ(r.mediaType, 2u);
            EXPECT_EQ(r.sampleRate, static_cast<uint32_t>(probe.Number(Probe::Stream(s, "sample_rate"))));
            EXPECT_EQ(r.channels, static_cast<uint32_t>(probe.Number(Probe::Stream(s, "channels"))));
            EXPECT_NEAR(r.audioDuration, probe.Number(Probe::Stream(s, "duration")), 1e-5);
            EXPECT_EQ(r.extradata != nullptr, r.extradataSize > 0);
            continue;
        }
        EXPECT_EQ(r.mediaType, 1u);
        EXPECT_EQ(r.width, static_cast<uint32_t>(probe.Number(Probe::Stream(s, "width"))));
        EXPECT_EQ(r.height, static_cast<uint32_t>(probe.Number(Probe::Stream(s, "height"))));
        EXPECT_EQ(r.level, static_cast<uint32_t>(probe.Number(Probe::Stream(s, "level"))));
        const auto [rateNum, rateDen] = probe.Pair(Probe::Stream(s, "r_frame_rate"), '/');
        const double baseRate = rateDen ? rateNum / rateDen : 0;
        EXPECT_EQ(ProbedVariableRate(kxtest::ProbeTicks(path, s), baseRate), variableRate);
        EXPECT_NEAR(r.frameRate, variableRate ? 0.0 : baseRate, 1e-9);  // a variable rate has no single one
        const auto [sarNum, sarDen] = probe.Pair(Probe::Stream(s, "sample_aspect_ratio"), ':');
        EXPECT_EQ(r.displayWidth, r.width * sarNum);
        EXPECT_EQ(r.displayHeight, r.height * sarDen);
        EXPECT_EQ(r.aspectNum, sarNum && sarDen ? r.width * sarNum : 0u);
        EXPECT_EQ(r.aspectDen, sarNum && sarDen ? r.height * sarDen : 1u);
    }
}

}  // namespace

// Durations, bit rates and frame rates of every fixture against ffprobe's
// -show_format -show_streams, and where the container gives no bit rate
// (Matroska, transport streams, Opus), against ffprobe's packet sizes.
TEST(MediaInfoReader, MatchesFfprobeForEveryFixture) {
    for (const char* name :
         {"h264_aac.mp4", "h264_aac_lowrate.mp4", "h264_bframes_opengop.mp4", "h264_aac.mkv", "h264_aac.ts",
          "h264_aac.m2ts", "two_programs.ts", "h264_mp3.avi", "mpeg1.mpg", "rotated90.mp4", "audio_only.m4a",
          "video_only.mp4", "h264_aac_mono44k.mp4", "Fête_vidéo_ü.mp4", "h264_aac.flv", "small_pframes.mkv"})
        CompareWithProbe(name, false);
    // Made with uneven frame spacing by the fixture script; ffprobe's packets must agree.
    for (const char* name : {"vfr_opus.mkv", "vfr.mp4"}) CompareWithProbe(name, true);
}

TEST(MediaInfoReader, PrintsItsLineOnceAndKeepsTheDescription) {
    kx::CTMediaInfo reader;
    ASSERT_EQ(reader.OpenMediaFile(kxtest::Wide(kxtest::Fixture("h264_aac.mp4")).c_str()), 0);
    testing::internal::CaptureStdout();
    FileMediaInfo* first = reader.GetMediainfo();
    EXPECT_EQ(reader.GetMediainfo(), first);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "=====CTMediaInfo::GetMediainfo() = 1 \n");
    ASSERT_NE(first, nullptr);
    // A further open changes nothing, even for another or a missing file.
    EXPECT_EQ(reader.OpenMediaFile(kxtest::Wide(kxtest::Fixture("two_programs.ts")).c_str()), 0);
    EXPECT_EQ(reader.OpenMediaFile(u"/nonexistent.mp4"), 0);
    EXPECT_EQ(reader.GetMediainfo(), first);
    reader.CloseMediaFile();
    EXPECT_EQ(reader.GetMediainfo(), nullptr);
    // Reusable after a close.
    ASSERT_EQ(reader.OpenMediaFile(kxtest::Wide(kxtest::Fixture("two_programs.ts")).c_str()), 0);
    testing::internal::CaptureStdout();
    ASSERT_NE(reader.GetMediainfo(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "=====CTMediaInfo::GetMediainfo() = 0 \n");
    EXPECT_EQ(reader.GetMediainfo()->programCount, 2u);
}

// A path longer than the description's 511 characters, through a chain of
// "./" that the file system resolves.
TEST(MediaInfoReader, LongPathIsCutInTheDescription) {
    std::string path = kxtest::Fixture("");
    while (path.size() < 700) path += "./";
    path += "h264_aac.mp4";
    kx::CTMediaInfo reader;
    ASSERT_EQ(reader.OpenMediaFile(kxtest::Wide(path).c_str()), 0);
    ASSERT_NE(reader.GetMediainfo(), nullptr);
    EXPECT_EQ(std::u16string(reader.GetMediainfo()->path), kxtest::Wide(path).substr(0, 511));
}
