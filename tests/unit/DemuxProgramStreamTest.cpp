// Program streams time only the packets that begin a PES packet carrying a
// time, and the library's parser may give a small picture the times of the
// next. A transport stream times every packet: one encode, remuxed into both,
// must come out of the readers with the same times.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "DemuxProbe.h"
#include "TestSupport.h"
#include "demux/KeyFrameIndexStore.h"

using demuxtest::OpenSingle;
using demuxtest::Packet;

namespace {

struct PsCase {
    const char* name;
    const char* encode;  // ffmpeg output options
    int seconds;
};

const PsCase kCases[] = {
    {"bframes", "-bf 2 -g 25 -c:a libmp3lame -b:a 128k", 8},
    {"no_bframes", "-bf 0 -g 25 -c:a mp2 -b:a 128k", 8},
    // Key frames far apart, so the order count runs long between them.
    {"long_gop", "-g 250 -keyint_min 250 -sc_threshold 0 -force_key_frames 0,4.4,8.8 -c:a libmp3lame -b:a 128k", 12},
    {"open_gop", "-g 40 -x264-params open-gop=1 -c:a mp2 -b:a 128k", 8},
};

// The case's transport stream and, remuxed from it, its program stream;
// made once per build folder.
std::pair<std::string, std::string> Made(const PsCase& c) {
    const std::string folder = std::string(KX_BUILD_DIR) + "/ps_media";
    std::filesystem::create_directories(folder);
    const std::string ts = folder + "/" + c.name + ".ts";
    const std::string ps = folder + "/" + c.name + ".mpg";
    const std::string seconds = std::to_string(c.seconds);
    if (!std::filesystem::exists(ts))
        kxtest::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=" + seconds +
                           " -f lavfi -i anoisesrc=sample_rate=48000:amplitude=0.3:color=pink:seed=7:duration=" +
                           seconds + " -c:v libx264 -preset veryfast -pix_fmt yuv420p -b:v 300k -ac 2 " + c.encode +
                           " -f mpegts " + ts + ".tmp && mv " + ts + ".tmp " + ts);
    if (!std::filesystem::exists(ps))
        kxtest::RunCommand("ffmpeg -nostdin -v error -y -i " + ts + " -c copy -f mpeg " + ps + ".tmp && mv " + ps +
                           ".tmp " + ps);
    return {ts, ps};
}

std::vector<Packet> ReadStream(const std::string& file, int stream) {
    auto reader = OpenSingle(file, {stream});
    if (!reader) return {};
    return demuxtest::ReadAll(reader->GetControl());
}

// What makes the case hard: video packets without times, a key frame among
// them, as ffprobe lists them.
struct Sparseness {
    int untimed = 0;
    int untimedKeys = 0;
};
Sparseness SparsenessOf(const std::string& file) {
    Sparseness s;
    for (const auto& p : demuxtest::ProbePackets(file, 0)) {
        if (p.pts != kx::kNoPts) continue;
        ++s.untimed;
        s.untimedKeys += p.key;
    }
    return s;
}

}  // namespace

TEST(DemuxProgramStream, EveryPacketHasTheTimesOfTheTransportStream) {
    int untimedKeys = 0;
    for (const auto& c : kCases) {
        const auto [ts, ps] = Made(c);
        const Sparseness sparse = SparsenessOf(ps);
        ASSERT_GT(sparse.untimed, 0) << c.name << ": the program stream times every picture";
        untimedKeys += sparse.untimedKeys;
        for (int stream : {0, 1}) {
            const auto want = ReadStream(ts, stream);
            const auto got = ReadStream(ps, stream);
            const std::string what = std::string(c.name) + " stream " + std::to_string(stream);
            ASSERT_FALSE(want.empty()) << what;
            ASSERT_EQ(got.size(), want.size()) << what;
            for (size_t i = 0; i < want.size(); ++i) {
                ASSERT_EQ(got[i].pts, want[i].pts) << what << " packet " << i;
                ASSERT_EQ(got[i].dts, want[i].dts) << what << " packet " << i;
                ASSERT_EQ(got[i].key, want[i].key) << what << " packet " << i;
            }
        }
    }
    EXPECT_GT(untimedKeys, 0) << "no case has a key frame without a time";
}

TEST(DemuxProgramStream, KeyFramesAreListedAtTheirOwnTimes) {
    for (const auto& c : kCases) {
        const auto [ts, ps] = Made(c);
        auto want = OpenSingle(ts, {0});
        auto got = OpenSingle(ps, {0});
        ASSERT_TRUE(want && got) << c.name;
        const kx::KeyFrameIndex* wantIndex = want->GetAnalyze()->GetKeyFrameIndex(0);
        const kx::KeyFrameIndex* gotIndex = got->GetAnalyze()->GetKeyFrameIndex(0);
        ASSERT_TRUE(wantIndex && gotIndex) << c.name;
        ASSERT_EQ(kx::KeyFrameCount(gotIndex), kx::KeyFrameCount(wantIndex)) << c.name;
        for (int32_t i = 0; i < kx::KeyFrameCount(wantIndex); ++i) {
            EXPECT_EQ(gotIndex->entries[i].time, wantIndex->entries[i].time) << c.name << " key frame " << i;
            EXPECT_EQ(gotIndex->entries[i].frameNumber, wantIndex->entries[i].frameNumber) << c.name << " key frame " << i;
        }
    }
}

// A seek to a key frame's time holds that key frame, whole: the first packet
// after a seek into a program stream comes with the tail of another picture
// in front, which must not reach the writers.
TEST(DemuxProgramStream, SeekHoldsTheKeyFrameWhole) {
    for (const auto& c : kCases) {
        const auto [ts, ps] = Made(c);
        const auto packets = ReadStream(ps, 0);
        std::map<int64_t, int> keySizes;  // pts -> size, as read from the start
        for (const auto& p : packets)
            if (p.key) keySizes[p.pts] = p.size;
        ASSERT_GT(keySizes.size(), 2u) << c.name;
        auto reader = OpenSingle(ps, {0});
        ASSERT_TRUE(reader) << c.name;
        kx::ITDemuxerControl* control = reader->GetControl();
        AVPacket* packet = av_packet_alloc();
        for (const auto& [pts, size] : keySizes) {
            const double seconds = static_cast<double>(pts) / 1e7;
            ASSERT_GE(control->Seek(seconds, 0, -1), 0) << c.name << " at " << seconds;
            ASSERT_EQ(control->GetPacket(packet), 1) << c.name << " at " << seconds;
            EXPECT_TRUE(packet->flags & AV_PKT_FLAG_KEY) << c.name << " at " << seconds;
            EXPECT_EQ(packet->pts, pts) << c.name << " at " << seconds;
            EXPECT_EQ(packet->size, size) << c.name << " at " << seconds;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
}
