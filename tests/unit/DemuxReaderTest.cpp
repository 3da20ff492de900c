// The stream readers, judged by ffprobe on the fixtures: each stream alone,
// program streams whose pictures are not all timed, and the packing of
// decoded pictures. How the converter reads all streams at once (merged in
// time order, from the described file, seeking to each clip) is judged on
// the outputs of the corpus split, merge and mix.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/frame.h>
}

#include "input/CTSingleTDemuxer.h"
#include "input/DecodedFrameStore.h"
#include "input/KeyFrameIndexStore.h"
#include "ProgramStreamMedia.h"
#include "TestSupport.h"

using kxtest::ClockZero;
using kxtest::Fixture;
using kxtest::OpenReader;
using kxtest::Packet;
using kxtest::ProbeTicksOnClock;
using kxtest::ReadControl;

namespace {

// Decoding times as the container gives them, or derived where it gives
// none: rising, never after the pts.
enum class Dts { kEqual, kDerived };

// Stream, times, key flag and size of every packet.
void ExpectSamePackets(const std::vector<Packet>& got, const std::vector<Packet>& want, const std::string& what,
                       Dts dts = Dts::kEqual, bool sizes = true) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(what + " packet " + std::to_string(i));
        ASSERT_EQ(got[i].stream, want[i].stream);
        ASSERT_EQ(got[i].pts, want[i].pts);
        ASSERT_EQ(got[i].key, want[i].key);
        ASSERT_TRUE(!sizes || got[i].size == want[i].size);
        ASSERT_TRUE(dts == Dts::kDerived || got[i].dts == want[i].dts) << got[i].dts << " for " << want[i].dts;
        if (dts == Dts::kEqual) continue;
        ASSERT_NE(got[i].pts, kx::kNoPts);
        ASSERT_LE(got[i].dts, got[i].pts);
        ASSERT_TRUE(i == 0 || got[i].dts > got[i - 1].dts);
    }
}

// The fixtures and their streams. The key packets of small_pframes in MP4
// and MKV are KeyFrameQuery's; their times take the path of h264_aac's.
const std::pair<const char*, std::vector<int>> kContainers[] = {
    {"h264_aac.mp4", {0, 1}},
    {"h264_aac.mkv", {0, 1}},
    {"h264_aac.ts", {0, 1}},
    {"h264_aac.m2ts", {0, 1}},
    {"h264_bframes_opengop.mp4", {0, 1}},
    {"h264_mp3.avi", {0, 1}},
    {"mpeg1.mpg", {0, 1}},
    {"two_programs.ts", {0, 1, 2, 3}},
    {"audio_only.m4a", {0}},
    {"truncated.mp4", {0, 1}},
    {"small_pframes.flv", {0}},
};

}  // namespace

// Every stream of every fixture, read alone, delivers what ffprobe lists for
// it: same count, order, timestamps (in ticks), key flags and sizes.
TEST(DemuxReader, EachStreamAloneEqualsFfprobe) {
    for (const auto& [file, streams] : kContainers) {
        const std::string path = Fixture(file);
        for (int s : streams) {
            auto reader = OpenReader(path, s);
            ASSERT_NE(reader, nullptr) << file;
            auto got = ReadControl(reader->GetControl(), true);
            EXPECT_EQ(reader->GetControl()->IsEndOfStream(), 1);
            auto want = ProbeTicksOnClock(path, s, ClockZero(path, {s}));
            const bool video = kxtest::ProbeStream(path, s)["codec_type"] == "video";
            const bool derived = video && !want.empty() && want.front().dts == kx::kNoPts;
            ExpectSamePackets(got, want, std::string(file) + " stream " + std::to_string(s),
                              derived ? Dts::kDerived : Dts::kEqual);
        }
    }
}

// Program streams time only the packets that begin a PES packet carrying a
// time, and the library's parser may give a small picture the times of the
// next. A transport stream times every packet: one encode, remuxed into both,
// must come out of the readers with the same packets and key frame index.
// With uneven frame spacing the untimed pictures get estimates: still shown
// in their order, decoded before they are shown. (Seeks into program streams
// are judged by the decoding of the corpus clips, which start at one.)
TEST(DemuxReader, ProgramStreamReadsAsItsTransportStream) {
    int untimedKeys = 0;
    std::vector<pstest::PsCase> cases(std::begin(pstest::kCases), std::end(pstest::kCases));
    cases.push_back(pstest::kUneven);
    for (const auto& c : cases) {
        const bool uneven = &c == &cases.back();
        const auto [ts, ps] = pstest::Made(c);
        int untimed = 0;
        for (const auto& p : kxtest::ProbeTicks(ps, 0)) {
            untimed += p.pts == kx::kNoPts;
            untimedKeys += p.pts == kx::kNoPts && p.key;
        }
        ASSERT_GT(untimed, 0) << c.name << ": the program stream times every picture";
        for (int stream : {0, 1}) {
            const auto want = ReadControl(OpenReader(ts, stream)->GetControl(), true);
            auto got = ReadControl(OpenReader(ps, stream)->GetControl(), true);
            const std::string what = std::string(c.name) + " stream " + std::to_string(stream);
            ASSERT_FALSE(want.empty()) << what;
            if (!uneven) {
                ExpectSamePackets(got, want, what, Dts::kEqual, false);
                continue;
            }
            if (stream == 1) continue;
            ExpectSamePackets(got, got, what, Dts::kDerived, false);  // the derived decoding times alone
            auto displayOrder = [](const std::vector<Packet>& packets) {
                std::vector<size_t> order(packets.size());
                std::iota(order.begin(), order.end(), 0);
                std::stable_sort(order.begin(), order.end(),
                                 [&](size_t a, size_t b) { return packets[a].pts < packets[b].pts; });
                return order;
            };
            EXPECT_EQ(displayOrder(got), displayOrder(want)) << what;
        }
        if (uneven) continue;

        auto tsReader = OpenReader(ts, 0);
        auto psReader = OpenReader(ps, 0);
        const kx::KeyFrameIndex* want = tsReader->GetAnalyze()->GetKeyFrameIndex(0);
        const kx::KeyFrameIndex* got = psReader->GetAnalyze()->GetKeyFrameIndex(0);
        ASSERT_TRUE(want && got) << c.name;
        kxtest::ExpectKeyFrames(got->entries, kx::KeyFrameCount(got),
                                {want->entries, want->entries + kx::KeyFrameCount(want)}, c.name);
    }
    EXPECT_GT(untimedKeys, 0) << "no case has a key frame without a time";
}

// The packing rule on odd sizes and other layouts: never past a plane,
// missing columns and rows repeat the last, missing planes read as 128.
TEST(DemuxReader, DecodedPackingOfOddAndUnusualPictures) {
    auto makeFrame = [](AVPixelFormat format, int w, int h) {
        AVFrame* frame = av_frame_alloc();
        frame->format = format;
        frame->width = w;
        frame->height = h;
        EXPECT_EQ(av_frame_get_buffer(frame, 1), 0);
        for (int p = 0; p < 4 && frame->data[p]; ++p)
            for (int y = 0; y < (p ? (h + 1) / 2 : h); ++y)
                for (int x = 0; x < frame->linesize[p]; ++x)
                    frame->data[p][y * frame->linesize[p] + x] = uint8_t(p * 64 + y * 8 + x);
        return frame;
    };
    kx::DecodedFrame* record = kx::CreateVideoFrameRecord(2, 2);
    ASSERT_NE(record, nullptr);
    const auto& v = record->video;
    AVFrame* odd = makeFrame(AV_PIX_FMT_YUV420P, 5, 3);
    ASSERT_TRUE(kx::FillVideoRecord(record, odd));
    EXPECT_EQ(v.width, 6);
    EXPECT_EQ(v.height, 4);
    EXPECT_EQ(v.y[5], v.y[4]);                  // column 5 repeats column 4
    EXPECT_EQ(v.y[3 * 6 + 2], v.y[2 * 6 + 2]);  // row 3 repeats row 2
    EXPECT_EQ(v.v[1 * 3 + 2], odd->data[2][1 * odd->linesize[2] + 2]);
    av_frame_free(&odd);

    AVFrame* gray = makeFrame(AV_PIX_FMT_GRAY8, 64, 48);
    ASSERT_TRUE(kx::FillVideoRecord(record, gray));  // larger than before: a new buffer
    EXPECT_GE(record->storageSize, 64 * 48 + 2 * 32 * 24);
    EXPECT_EQ(v.u[0], 128);
    EXPECT_EQ(v.v[32 * 24 - 1], 128);
    av_frame_free(&gray);

    AVFrame* quarter = makeFrame(AV_PIX_FMT_YUV410P, 16, 16);  // chroma 4x4
    ASSERT_TRUE(kx::FillVideoRecord(record, quarter));
    EXPECT_EQ(v.u[7 * 8 + 7], v.u[3 * 8 + 3]);
    av_frame_free(&quarter);

    AVFrame* packed = makeFrame(AV_PIX_FMT_RGB24, 7, 5);
    ASSERT_TRUE(kx::FillVideoRecord(record, packed));
    EXPECT_EQ(v.width, 8);
    av_frame_free(&packed);

    AVFrame* empty = av_frame_alloc();
    EXPECT_FALSE(kx::FillVideoRecord(record, empty));
    EXPECT_FALSE(kx::FillVideoRecord(nullptr, empty));
    av_frame_free(&empty);
    kx::FreeDecodedFrame(record);
}
