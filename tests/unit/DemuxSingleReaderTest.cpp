#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "DemuxProbe.h"
#include "TestSupport.h"
#include "input/CTSingleTDemuxer.h"

using demuxtest::OpenSingle;
using demuxtest::Packet;
using kxtest::Fixture;

namespace {

void ExpectSamePackets(const std::vector<Packet>& got, const std::vector<Packet>& want, const std::string& what,
                       bool video = false) {
    ASSERT_EQ(got.size(), want.size()) << what;
    const bool derivedDts = video && !want.empty() && want.front().dts == kx::kNoPts;
    for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(got[i].pts, want[i].pts) << what << " packet " << i;
        // A container without decoding times gets them derived: rising, never after the pts.
        if (derivedDts) {
            ASSERT_LE(got[i].dts, got[i].pts) << what << " packet " << i;
            if (i) {
                ASSERT_GT(got[i].dts, got[i - 1].dts) << what << " packet " << i;
            }
        } else {
            ASSERT_EQ(got[i].dts, want[i].dts) << what << " packet " << i;
        }
        ASSERT_EQ(got[i].key, want[i].key) << what << " packet " << i;
        ASSERT_EQ(got[i].size, want[i].size) << what << " packet " << i;
        ASSERT_EQ(got[i].stream, want[i].stream) << what << " packet " << i;
    }
}

struct StreamCase {
    const char* file;
    std::vector<int> streams;
};

}  // namespace

// Every stream of every fixture, read alone, delivers what ffprobe lists for
// it: same count, order, timestamps (in ticks), key flags and sizes.
TEST(DemuxSingleReader, PacketsOfEachStreamEqualFfprobe) {
    const std::vector<StreamCase> cases = {
        {"h264_aac.mp4", {0, 1}},     {"h264_aac.mkv", {0, 1}},  {"h264_aac.ts", {0, 1}},
        {"h264_aac.m2ts", {0, 1}},    {"h264_bframes_opengop.mp4", {0, 1}},
        {"h264_mp3.avi", {0, 1}},     {"mpeg1.mpg", {0, 1}},     {"two_programs.ts", {0, 1, 2, 3}},
        {"audio_only.m4a", {0}},      {"rotated90.mp4", {0}},    {"truncated.mp4", {0, 1}},
        {"small_pframes.mp4", {0}},   {"small_pframes.mkv", {0}}, {"small_pframes.flv", {0}},
    };
    for (const auto& c : cases) {
        for (int s : c.streams) {
            std::string path = Fixture(c.file);
            auto reader = OpenSingle(path, {s});
            ASSERT_NE(reader, nullptr) << c.file;
            auto got = demuxtest::ReadAll(reader->GetControl());
            EXPECT_EQ(reader->GetControl()->IsEndOfStream(), 1);
            bool video = demuxtest::ProbeStream(path, s)["codec_type"] == "video";
            ExpectSamePackets(got, demuxtest::ProbePacketsOnClock(path, s, demuxtest::ClockZero(path, {s})),
                              std::string(c.file) + " stream " + std::to_string(s), video);
        }
    }
}

// Reading two streams through one reader interleaves them in file order.
TEST(DemuxSingleReader, TwoStreamsComeInFileOrder) {
    std::string path = Fixture("h264_aac.mp4");
    auto reader = OpenSingle(path, {0, 1});
    ASSERT_NE(reader, nullptr);
    reader->GetControl()->SetHoldSample(0);  // forget the held sample on every read
    auto got = demuxtest::ReadAll(reader->GetControl());
    std::string out = kxtest::RunCommand("ffprobe -v error -show_entries packet=stream_index -of csv=p=0 " + path);
    std::vector<std::string> order;
    for (const auto& line : demuxtest::Split(out, '\n'))
        if (!line.empty()) order.push_back(line.substr(0, line.find(',')));
    ASSERT_EQ(got.size(), order.size());
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(std::to_string(got[i].stream), order[i]) << i;
    }
}

TEST(DemuxSingleReader, BadFilesFailToOpen) {
    kx::CTSingleTDemuxer reader;
    EXPECT_EQ(reader.Open(nullptr, 0), -1);
    EXPECT_EQ(reader.Open(kxtest::Wide(Fixture("garbage.bin")).c_str(), 0), -1);
    EXPECT_EQ(reader.Open(u"/nonexistent/dir/missing.mp4", 0), -1);
    EXPECT_EQ(reader.GetControl(), nullptr);
    // Non-ASCII names open by their UTF-8 form.
    EXPECT_EQ(reader.Open(kxtest::Wide(Fixture("Fête_vidéo_ü.mp4")).c_str(), 0), 0);
}

// A video seek lands on the first key frame at or after the target (1 ms of
// slack), whatever the container.
TEST(DemuxSingleReader, VideoSeekLandsOnFirstKeyFrameAtOrAfterTarget) {
    for (const char* file : {"h264_aac.mp4", "h264_bframes_opengop.mp4", "h264_aac.mkv", "h264_aac.ts"}) {
        std::string path = Fixture(file);
        std::vector<int64_t> keys;
        for (const auto& p : demuxtest::ProbePacketsOnClock(path, 0, demuxtest::ClockZero(path, {0, 1})))
            if (p.key) keys.push_back(p.pts);
        auto reader = OpenSingle(path, {0, 1});
        ASSERT_NE(reader, nullptr);
        auto* control = reader->GetControl();
        for (double seconds : {0.0, 3.0, 3.5, 7.2, 2.9995, 6.0, 1.0}) {
            int64_t target = static_cast<int64_t>(seconds * 1e7);
            int64_t want = INT64_MIN;
            for (int64_t k : keys)
                if (k > target - 10000) { want = k; break; }
            int result = control->Seek(seconds, kx::SeekMode::kBackwardKey, -1);  // -1: the video stream
            EXPECT_GE(result, 0) << file << " " << seconds;
            kx::SampleInfo info;
            ASSERT_EQ(control->GetSampleInfo(&info), 1) << file << " " << seconds;
            EXPECT_EQ(info.streamIndex, 0);
            EXPECT_EQ(info.pts, want) << file << " " << seconds;
            EXPECT_EQ(info.flags & 1, 1);
            EXPECT_EQ(control->IsEndOfStream(), 0);
            // Reading goes on from there with the held key frame first.
            AVPacket* packet = av_packet_alloc();
            ASSERT_EQ(control->ReadNext(), 1);
            ASSERT_EQ(control->GetPacket(packet), 1);
            EXPECT_EQ(packet->pts, want);
            av_packet_free(&packet);
        }
        // Past the last key frame: nothing is held, and the reader is not ended.
        control->Seek(double(keys.back()) / 1e7 + 0.5, kx::SeekMode::kBackwardKey, 0);
        EXPECT_EQ(control->HasSample(), 0) << file;
        EXPECT_EQ(control->IsEndOfStream(), 0);
    }
}

TEST(DemuxSingleReader, AudioSeekAndBadSeekTargets) {
    std::string path = Fixture("h264_aac.mp4");
    auto audio = demuxtest::ProbePackets(path, 1);
    auto reader = OpenSingle(path, {1});
    ASSERT_NE(reader, nullptr);
    auto* control = reader->GetControl();
    EXPECT_EQ(control->Seek(4.0, kx::SeekMode::kAny, 1), 1);  // any packet: the first at or after 4 s
    kx::SampleInfo info;
    ASSERT_EQ(control->GetSampleInfo(&info), 1);
    int64_t want = 0;
    for (const auto& p : audio)
        if (p.dts >= 40'000'000) { want = p.pts; break; }
    EXPECT_EQ(info.pts, want);
    EXPECT_EQ(info.mediaType, kx::MediaType::kAudio);
    EXPECT_EQ(control->Seek(4.0, kx::SeekMode::kBackwardKey, 0), -1);  // stream 0 is not selected
    EXPECT_EQ(control->Seek(std::nan(""), kx::SeekMode::kBackwardKey, 1), -1);
    EXPECT_GE(control->Seek(1e300, kx::SeekMode::kBackwardKey, 1), -1000000);  // absurd but harmless
    EXPECT_GE(control->Seek(-1e300, kx::SeekMode::kAny, -1), 0);
    kx::CTSingleTDemuxer empty;
    ASSERT_EQ(empty.Open(kxtest::Wide(path).c_str(), 0), 0);
    ASSERT_EQ(empty.StartDemuxer(), 0);
    EXPECT_EQ(empty.GetControl()->Seek(1.0, kx::SeekMode::kBackwardKey, -1), -1);  // no stream selected
}
