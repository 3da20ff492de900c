// Program streams time only the packets that begin a PES packet carrying a
// time, and the library's parser may give a small picture the times of the
// next. A transport stream times every packet: one encode, remuxed into both,
// must come out of the readers with the same times.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "DemuxProbe.h"
#include "ProgramStreamMedia.h"
#include "TestSupport.h"
#include "input/KeyFrameIndexStore.h"

using demuxtest::OpenSingle;
using demuxtest::Packet;

namespace {

using pstest::kCases;
using pstest::Made;

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
            ASSERT_GE(control->Seek(seconds, kx::SeekMode::kBackwardKey, -1), 0) << c.name << " at " << seconds;
            ASSERT_EQ(control->GetPacket(packet), 1) << c.name << " at " << seconds;
            EXPECT_TRUE(packet->flags & AV_PKT_FLAG_KEY) << c.name << " at " << seconds;
            EXPECT_EQ(packet->pts, pts) << c.name << " at " << seconds;
            EXPECT_EQ(packet->size, size) << c.name << " at " << seconds;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
}

// With uneven frame spacing the pictures without a time get estimates; they
// must still be shown in their order, decoded before they are shown, and
// decoded in the order they are read.
TEST(DemuxProgramStream, UnevenSpacingKeepsTheDisplayOrder) {
    const auto [ts, ps] = Made(pstest::kUneven);
    ASSERT_GT(SparsenessOf(ps).untimed, 0);
    const auto want = ReadStream(ts, 0);
    const auto got = ReadStream(ps, 0);
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_NE(got[i].pts, kx::kNoPts) << "packet " << i;
        ASSERT_NE(got[i].dts, kx::kNoPts) << "packet " << i;
        ASSERT_LE(got[i].dts, got[i].pts) << "packet " << i;
        if (i > 0) {
            ASSERT_GT(got[i].dts, got[i - 1].dts) << "packet " << i;
        }
    }
    auto displayOrder = [](const std::vector<Packet>& packets) {
        std::vector<size_t> order(packets.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return packets[a].pts < packets[b].pts; });
        return order;
    };
    EXPECT_EQ(displayOrder(got), displayOrder(want));
}
