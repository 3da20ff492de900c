// The whole-file media information reader, judged against ffprobe.
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
#include "input/DemuxerHolder.h"
#include "media/MediaKernel.h"
#include "TestSupport.h"

namespace {

// ffprobe's flat output as key -> value (quotes removed).
class Probe {
public:
    explicit Probe(const std::string& path) {
        std::istringstream in(kxtest::RunCommand("ffprobe -v error -show_format -show_streams -show_programs -of flat '" +
                                                 path + "'"));
        std::string line;
        while (std::getline(in, line)) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string value = line.substr(eq + 1);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            values_[line.substr(0, eq)] = value;
        }
    }
    bool Has(const std::string& key) const { return values_.count(key) != 0; }
    std::string Text(const std::string& key) const {
        auto it = values_.find(key);
        return it == values_.end() ? "" : it->second;
    }
    // N/A and absent read as the fallback.
    double Number(const std::string& key, double fallback = 0) const {
        const std::string text = Text(key);
        if (text.empty() || text == "N/A") return fallback;
        return std::stod(text);
    }
    double Ratio(const std::string& key, char separator) const {
        const std::string text = Text(key);
        const size_t at = text.find(separator);
        if (at == std::string::npos) return 0;
        const double num = std::stod(text.substr(0, at));
        const double den = std::stod(text.substr(at + 1));
        return den == 0 ? 0 : num / den;
    }
    std::pair<long, long> Pair(const std::string& key, char separator) const {
        const std::string text = Text(key);
        const size_t at = text.find(separator);
        if (at == std::string::npos) return {0, 1};
        return {std::stol(text.substr(0, at)), std::stol(text.substr(at + 1))};
    }
    std::string Stream(int index, const std::string& field) const {
        return "streams.stream." + std::to_string(index) + "." + field;
    }

private:
    std::map<std::string, std::string> values_;
};

struct OpenInfo {
    kx::CTMediaInfo reader;
    FileMediaInfo* info = nullptr;
    explicit OpenInfo(const std::string& path) {
        if (reader.OpenMediaFile(kxtest::Wide(path).c_str()) == 0) info = reader.GetMediainfo();
    }
};

// Every video and audio record of the description, by stream index, with its entry number.
std::map<uint32_t, std::pair<const MediaStreamRecord*, uint32_t>> Records(const FileMediaInfo* info) {
    std::map<uint32_t, std::pair<const MediaStreamRecord*, uint32_t>> out;
    for (uint32_t e = 0; e < info->programCount; ++e) {
        const ProgramInfo& entry = info->programs[e];
        for (uint32_t i = 0; i < entry.videoCount; ++i) out[entry.videos[i].streamIndex] = {&entry.videos[i], entry.number};
        for (uint32_t i = 0; i < entry.audioCount; ++i) out[entry.audios[i].streamIndex] = {&entry.audios[i], entry.number};
    }
    return out;
}

// Bit rates that the library estimates while probing (transport streams)
// depend on how much was read; allow 2 %.
void ExpectBitRate(uint32_t ours, uint32_t probed) {
    EXPECT_NEAR(static_cast<double>(ours), static_cast<double>(probed), probed * 0.02 + 1);
}

// Where the container gives no bit rate, the description measures one:
// within 3 % of ffprobe's packet sizes over the stream's duration.
void ExpectMeasuredBitRate(uint32_t ours, const std::vector<kxtest::Packet>& packets, double seconds) {
    double bytes = 0;
    for (const auto& p : packets) bytes += p.size;
    ASSERT_GT(bytes, 0);
    const double expected = bytes * 8 / seconds;
    EXPECT_NEAR(static_cast<double>(ours), expected, expected * 0.03);
}

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
    const double mean = static_cast<double>(packets.size() - 1) * kx::kTicksPerSecond / static_cast<double>(last - first);
    return std::fabs(mean - baseRate) > 0.1 * baseRate;
}

struct ProbeCase {
    const char* name;
    bool variableRate;  // as made by the fixture script; ffprobe's packets must agree
};

void CompareWithProbe(const ProbeCase& c) {
    const std::string name = c.name;
    SCOPED_TRACE(name);
    const std::string path = kxtest::Fixture(name);
    Probe probe(path);
    ASSERT_TRUE(probe.Has("format.duration")) << "ffprobe failed";
    OpenInfo open(path);
    ASSERT_NE(open.info, nullptr);
    const FileMediaInfo* info = open.info;

    EXPECT_EQ(kxtest::Narrow(info->path), path);
    const double fileSeconds = probe.Number("format.duration");
    EXPECT_NEAR(info->duration, fileSeconds, 1e-5);

    // Programs, and the extra entry for streams outside every program.
    int programs = 0;
    std::set<int> covered;
    std::map<int, int> programOf;  // stream index -> entry number
    while (probe.Has("programs.program." + std::to_string(programs) + ".program_id")) {
        for (int s = 0;; ++s) {
            const std::string key = "programs.program." + std::to_string(programs) + ".streams.stream." +
                                    std::to_string(s) + ".index";
            if (!probe.Has(key)) break;
            const int index = static_cast<int>(probe.Number(key));
            covered.insert(index);
            programOf[index] = programs + 1;
        }
        ++programs;
    }
    int streams = 0;
    while (probe.Has(probe.Stream(streams, "index"))) ++streams;
    const bool extra = static_cast<int>(covered.size()) < streams;
    EXPECT_EQ(info->hasExtra, extra ? 1u : 0u);
    EXPECT_EQ(info->programCount, static_cast<uint32_t>(programs + (extra ? 1 : 0)));
    for (uint32_t e = 0; e < info->programCount; ++e) {
        EXPECT_EQ(info->programs[e].number, e + 1);
    }

    // Programs last as long as the file and carry their streams' bit rates.
    for (uint32_t e = 0; e < info->programCount; ++e) {
        const ProgramInfo& entry = info->programs[e];
        EXPECT_NEAR(entry.duration, fileSeconds, 1e-5) << "entry " << e;
        uint32_t sum = 0;
        for (uint32_t i = 0; i < entry.videoCount; ++i) sum += entry.videos[i].bitRate;
        for (uint32_t i = 0; i < entry.audioCount; ++i) sum += entry.audios[i].bitRate;
        EXPECT_EQ(entry.bitRate, sum) << "entry " << e;
    }

    const auto records = Records(info);
    for (int s = 0; s < streams; ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        const std::string type = probe.Text(probe.Stream(s, "codec_type"));
        const uint32_t bitRate = static_cast<uint32_t>(probe.Number(probe.Stream(s, "bit_rate")));
        if (type != "video" && type != "audio") {
            EXPECT_EQ(records.count(s), 0u);
            continue;
        }
        ASSERT_EQ(records.count(s), 1u);
        const MediaStreamRecord& r = *records.at(s).first;
        const uint32_t entry = records.at(s).second;
        const uint32_t idProgram = programOf.count(s) ? programOf[s] : 1;
        EXPECT_EQ(entry, programOf.count(s) ? programOf[s] : programs + 1);
        EXPECT_STREQ(r.codecName, probe.Text(probe.Stream(s, "codec_name")).c_str());
        EXPECT_EQ(r.codecId, static_cast<uint32_t>(kx::FromLibraryCodecId(
                                 avcodec_descriptor_get_by_name(r.codecName)->id)));
        double seconds = probe.Number(probe.Stream(s, "duration"), 0);
        if (seconds <= 0.1) seconds = fileSeconds;
        EXPECT_NEAR(r.duration, seconds, 1e-5);
        const bool uncompressed = av_get_exact_bits_per_sample(avcodec_descriptor_get_by_name(r.codecName)->id) > 0;
        if (bitRate > 0)
            ExpectBitRate(r.bitRate, bitRate);
        else if (!uncompressed)
            ExpectMeasuredBitRate(r.bitRate, kxtest::ProbeTicks(path, s), seconds);
        EXPECT_EQ(r.reserved384, 2u);
        EXPECT_EQ(r.reserved368, 0);
        if (type == "video") {
            EXPECT_EQ(r.mediaType, 1u);
            EXPECT_EQ(r.streamId, static_cast<int32_t>(idProgram * 65536 + s));
            EXPECT_EQ(r.width, static_cast<uint32_t>(probe.Number(probe.Stream(s, "width"))));
            EXPECT_EQ(r.height, static_cast<uint32_t>(probe.Number(probe.Stream(s, "height"))));
            const double baseRate = probe.Ratio(probe.Stream(s, "r_frame_rate"), '/');
            EXPECT_EQ(ProbedVariableRate(kxtest::ProbeTicks(path, s), baseRate), c.variableRate);
            if (c.variableRate)
                EXPECT_EQ(r.frameRate, 0.0);  // no single rate to give
            else
                EXPECT_NEAR(r.frameRate, baseRate, 1e-9);
            auto sar = probe.Pair(probe.Stream(s, "sample_aspect_ratio"), ':');
            EXPECT_EQ(r.displayWidth, r.width * sar.first);
            EXPECT_EQ(r.displayHeight, r.height * sar.second);
            EXPECT_EQ(r.aspectNum, sar.first && sar.second ? r.width * sar.first : 0u);
            EXPECT_EQ(r.aspectDen, sar.first && sar.second ? r.height * sar.second : 1u);
            EXPECT_EQ(r.level, static_cast<uint32_t>(probe.Number(probe.Stream(s, "level"))));
            EXPECT_NE(r.extradata, nullptr);
            EXPECT_EQ(r.sampleRate, 0u);
        } else {
            EXPECT_EQ(r.mediaType, 2u);
            EXPECT_EQ(r.streamId, static_cast<int32_t>(idProgram * 65536 + 0x4000 + s));
            EXPECT_EQ(r.sampleRate, static_cast<uint32_t>(probe.Number(probe.Stream(s, "sample_rate"))));
            EXPECT_EQ(r.channels, static_cast<uint32_t>(probe.Number(probe.Stream(s, "channels"))));
            EXPECT_EQ(r.bytesPerSecond, r.channels * r.bitsPerSample * r.sampleRate / 8);
            if (uncompressed && bitRate == 0) ExpectBitRate(r.bitRate, r.bytesPerSecond * 8);
            EXPECT_NEAR(r.audioDuration, probe.Number(probe.Stream(s, "duration"), 0), 1e-5);
            EXPECT_EQ(r.width, 0u);
            EXPECT_EQ(r.extradata != nullptr, r.extradataSize > 0);
        }
    }
    // The whole file over its duration.
    const double fileBits = probe.Number("format.size") * 8;
    EXPECT_NEAR(static_cast<double>(info->totalBitRate), fileBits / fileSeconds, fileBits / fileSeconds * 0.01 + 1);
}

}  // namespace

// Durations, bit rates and frame rates of every fixture against ffprobe's
// -show_format -show_streams, and where the container gives no bit rate
// (Matroska, transport streams, Opus), against ffprobe's packet sizes.
TEST(MediaInfoReader, MatchesFfprobeForEveryFixture) {
    const std::vector<ProbeCase> cases = {
        {"h264_aac.mp4", false},  {"h264_aac_lowrate.mp4", false}, {"h264_bframes_opengop.mp4", false},
        {"h264_aac.mkv", false},  {"h264_aac.ts", false},          {"h264_aac.m2ts", false},
        {"two_programs.ts", false}, {"h264_mp3.avi", false},       {"mpeg1.mpg", false},
        {"rotated90.mp4", false}, {"audio_only.m4a", false},       {"video_only.mp4", false},
        {"h264_aac_mono44k.mp4", false}, {"Fête_vidéo_ü.mp4", false}, {"h264_aac.flv", false},
        {"small_pframes.mkv", false}, {"vfr_opus.mkv", true},      {"vfr.mp4", true},
    };
    for (const auto& c : cases) CompareWithProbe(c);
}

TEST(MediaInfoReader, PrintsItsLineOnceAndKeepsTheDescription) {
    kx::CTMediaInfo reader;
    ASSERT_EQ(reader.OpenMediaFile(kxtest::Wide(kxtest::Fixture("h264_aac.mp4")).c_str()), 0);
    testing::internal::CaptureStdout();
    FileMediaInfo* first = reader.GetMediainfo();
    FileMediaInfo* second = reader.GetMediainfo();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "=====CTMediaInfo::GetMediainfo() = 1 \n");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    // A further open changes nothing, even for another or a missing file.
    EXPECT_EQ(reader.OpenMediaFile(kxtest::Wide(kxtest::Fixture("two_programs.ts")).c_str()), 0);
    EXPECT_EQ(reader.OpenMediaFile(u"/nonexistent.mp4"), 0);
    EXPECT_EQ(reader.GetMediainfo(), first);
    reader.CloseMediaFile();
    EXPECT_EQ(reader.GetMediainfo(), nullptr);
    reader.CloseMediaFile();
    // Reusable after a close.
    ASSERT_EQ(reader.OpenMediaFile(kxtest::Wide(kxtest::Fixture("two_programs.ts")).c_str()), 0);
    testing::internal::CaptureStdout();
    ASSERT_NE(reader.GetMediainfo(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "=====CTMediaInfo::GetMediainfo() = 0 \n");
    EXPECT_EQ(reader.GetMediainfo()->programCount, 2u);
}

TEST(MediaInfoReader, BadInputsFailCleanly) {
    kx::CTMediaInfo reader;
    EXPECT_EQ(reader.GetMediainfo(), nullptr);
    EXPECT_EQ(reader.OpenMediaFile(nullptr), -1);
    EXPECT_EQ(reader.OpenMediaFile(u"/nonexistent/dir/file.mp4"), -1);
    EXPECT_EQ(reader.GetMediainfo(), nullptr);
    EXPECT_EQ(reader.OpenMediaFile(kxtest::Wide(kxtest::Fixture("garbage.bin")).c_str()), -1);
    EXPECT_EQ(reader.GetMediainfo(), nullptr);
    // A name whose UTF-8 form does not fit 1024 bytes is not opened.
    std::u16string longName = kxtest::Wide(kxtest::Fixture("")) + std::u16string(1100, u'a') + u".mp4";
    EXPECT_EQ(reader.OpenMediaFile(longName.c_str()), -1);
    // The truncated file keeps its index at the front: it opens, and whatever
    // it describes is well-formed.
    kx::CTMediaInfo truncated;
    if (truncated.OpenMediaFile(kxtest::Wide(kxtest::Fixture("truncated.mp4")).c_str()) == 0) {
        FileMediaInfo* info = truncated.GetMediainfo();
        ASSERT_NE(info, nullptr);
        EXPECT_GE(info->programCount, 1u);
    }
}

TEST(MediaInfoReader, LongPathIsCutInTheDescription) {
    // A path longer than the description's 511 characters, through a chain of
    // "./" that the file system resolves.
    std::string path = kxtest::Fixture("");
    while (path.size() < 700) path += "./";
    path += "h264_aac.mp4";
    OpenInfo open(path);
    ASSERT_NE(open.info, nullptr);
    const std::u16string stored(open.info->path);
    EXPECT_EQ(stored.size(), 511u);
    EXPECT_EQ(stored, kxtest::Wide(path).substr(0, 511));
}
