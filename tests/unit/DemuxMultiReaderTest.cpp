#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "DemuxProbe.h"
#include "TestSupport.h"
#include "input/DemuxerHolder.h"
#include "input/CTMultiDemuxer.h"
#include "input/CTMediaInfo.h"

extern "C" {
#include <libavformat/avformat.h>
}

using demuxtest::Packet;
using kxtest::Fixture;

namespace {

std::unique_ptr<kx::ITDemuxer> OpenMulti(const std::string& path, std::vector<int> streams, int decodeMode = 0) {
    std::unique_ptr<kx::ITDemuxer> demuxer(CreateMultiDemuxer());
    if (!demuxer || demuxer->Initialize() != 0) return nullptr;
    if (demuxer->Open(kxtest::Wide(path).c_str(), decodeMode) != 0) return nullptr;
    for (int s : streams)
        if (demuxer->AddStream(s) != 0) return nullptr;
    if (demuxer->StartDemuxer() != 0) return nullptr;
    demuxer->GetControl()->SetHoldSample(1);  // as the converter starts its inputs
    return demuxer;
}

// ffprobe's packets of the streams, merged the way the reader promises: the
// smallest pts of the stream heads first, the lower stream index on ties.
std::vector<Packet> ExpectedMerge(const std::string& path, const std::vector<int>& streams) {
    std::vector<std::vector<Packet>> lists;
    const int64_t zero = demuxtest::ClockZero(path, streams);
    for (int s : streams) lists.push_back(demuxtest::ProbePacketsOnClock(path, s, zero));
    std::vector<size_t> heads(lists.size(), 0);
    std::vector<Packet> merged;
    for (;;) {
        int best = -1;
        for (size_t i = 0; i < lists.size(); ++i) {
            if (heads[i] >= lists[i].size()) continue;
            const Packet& p = lists[i][heads[i]];
            if (best < 0 || p.pts < lists[best][heads[best]].pts ||
                (p.pts == lists[best][heads[best]].pts && p.stream < lists[best][heads[best]].stream))
                best = static_cast<int>(i);
        }
        if (best < 0) break;
        merged.push_back(lists[best][heads[best]++]);
    }
    return merged;
}

const kx::CTMultiDemuxer& Multi(const std::unique_ptr<kx::ITDemuxer>& d) {
    return static_cast<const kx::CTMultiDemuxer&>(*d);
}

const kx::CTMultiDemuxer& Multi(const kx::DemuxerHolder* holder) {
    return static_cast<const kx::CTMultiDemuxer&>(*holder->demuxer);
}

}  // namespace

TEST(DemuxMultiReader, DeliversAllStreamsInPtsOrderLowerIndexFirstOnTies) {
    const std::vector<std::pair<const char*, std::vector<int>>> cases = {
        {"h264_aac.mp4", {1, 0}}, {"h264_aac.ts", {0, 1}}, {"two_programs.ts", {3, 0, 2, 1}}, {"h264_aac.mkv", {0, 1}}};
    for (const auto& [file, streams] : cases) {
        std::string path = Fixture(file);
        auto demuxer = OpenMulti(path, streams);
        ASSERT_NE(demuxer, nullptr) << file;
        auto got = demuxtest::ReadAll(demuxer->GetControl(), 100000, false);
        std::vector<int> sorted = streams;
        std::sort(sorted.begin(), sorted.end());
        auto want = ExpectedMerge(path, sorted);
        ASSERT_EQ(got.size(), want.size()) << file;
        int ties = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(got[i].stream, want[i].stream) << file << " #" << i;
            ASSERT_EQ(got[i].pts, want[i].pts) << file << " #" << i;
            ASSERT_EQ(got[i].key, want[i].key) << file << " #" << i;
            if (i && got[i].pts == got[i - 1].pts) {
                ++ties;
                EXPECT_LT(got[i - 1].stream, got[i].stream) << file << " #" << i;
            }
            if (i) {
                EXPECT_GE(got[i].pts, got[i - 1].pts) << file << " #" << i;
            }  // no B-frames here
        }
        if (std::string(file) == "two_programs.ts") {
            EXPECT_GT(ties, 0);
        }  // equal times in both programs
        EXPECT_EQ(demuxer->GetControl()->IsEndOfStream(), 1);
        EXPECT_EQ(demuxer->GetControl()->ReadNext(), 0);
        EXPECT_EQ(demuxer->GetControl()->HasSample(), 0);
    }
}

// The file counts as ended when its first stream ends, while the other
// streams' packets keep coming.
TEST(DemuxMultiReader, EndOfStreamWhenTheShorterStreamEnds) {
    std::string path = Fixture("h264_aac.ts");  // audio ends before video
    auto demuxer = OpenMulti(path, {0, 1});
    auto* control = demuxer->GetControl();
    AVPacket* packet = av_packet_alloc();
    size_t total = 0, afterEnd = 0;
    bool ended = false;
    int survivor = -1;
    while (control->ReadNext() == 1 && control->GetPacket(packet) == 1) {
        ++total;
        if (ended) {  // only the stream that has not ended goes on
            ++afterEnd;
            if (survivor < 0) survivor = packet->stream_index;
            EXPECT_EQ(packet->stream_index, survivor);
        }
        if (control->IsEndOfStream()) ended = true;
    }
    av_packet_free(&packet);
    EXPECT_TRUE(ended);
    EXPECT_EQ(survivor, 1);  // the audio runs 20 ms longer here
    EXPECT_EQ(afterEnd, 1u);  // the audio packet at 11.405 s, after the video ended at 11.381 s
    EXPECT_EQ(total, 720u);
}

// Video lands on a key frame; audio follows to the time the video reached.
TEST(DemuxMultiReader, SeekAllStreamsVideoFirstThenAudioFollows) {
    std::string path = Fixture("h264_aac.mp4");
    auto demuxer = OpenMulti(path, {0, 1});
    auto* control = demuxer->GetControl();
    EXPECT_EQ(control->ReadNext(), 1);
    for (double seconds : {4.2, 10.0, 0.0, 7.0}) {
        EXPECT_GE(control->Seek(seconds, kx::SeekMode::kBackwardKey, -1), 0) << seconds;
        kx::SampleInfo video, sound;
        auto* videoReader = Multi(demuxer).Readers().at(0).reader->GetControl();
        if (seconds >= 10.0) {  // past the last key frame (9 s): the video reader holds nothing
            EXPECT_EQ(videoReader->GetSampleInfo(&video), 0);
            continue;
        }
        ASSERT_EQ(videoReader->GetSampleInfo(&video), 1) << seconds;
        int64_t wantVideo = static_cast<int64_t>(std::ceil(seconds)) * 10'000'000;  // key frame every second
        EXPECT_EQ(video.pts, wantVideo) << seconds;
        EXPECT_EQ(video.flags & 1, 1);
        ASSERT_EQ(Multi(demuxer).Readers().at(1).reader->GetControl()->GetSampleInfo(&sound), 1) << seconds;
        // The audio stands a little before the video, so that the packet
        // sounding across the video's time is read too.
        EXPECT_LE(sound.pts, video.pts) << seconds;
        EXPECT_GE(sound.pts, video.pts - 25'000'000) << seconds;
        // Reading goes on from the two positions in pts order.
        auto got = demuxtest::ReadAll(control, 6, false);
        ASSERT_EQ(got.size(), 6u);
        EXPECT_EQ(got[0].pts, std::min(video.pts, sound.pts));
        for (size_t i = 1; i < got.size(); ++i) {
            EXPECT_GE(got[i].pts, got[i - 1].pts);
        }
    }
}

// The media information reader's open file, handed to the first stream
// reader once the file is described, reads the same packets as a reader that
// opens the file itself; the description stays, and a stream that cannot be
// read takes the handed-over file with it without harming the next one.
TEST(DemuxMultiReader, FirstReaderTakingTheDescribedFileReadsAsAFreshOne) {
    const std::vector<std::pair<const char*, std::vector<int>>> cases = {
        {"h264_aac.mp4", {0, 1}}, {"h264_aac.mkv", {0, 1}}, {"h264_aac.ts", {0, 1}},
        {"h264_mp3.avi", {0, 1}}, {"two_programs.ts", {2, 3}}, {"audio_only.m4a", {0}},
    };
    for (const auto& [name, streams] : cases) {
        std::string path = Fixture(name);
        auto fresh = OpenMulti(path, streams);
        ASSERT_NE(fresh, nullptr) << name;
        auto want = demuxtest::ReadAll(fresh->GetControl(), 100000, false);

        kx::DemuxerHolder* holder = nullptr;
        ASSERT_EQ(kx::CreateDemuxerHolder(&holder), 0);
        ASSERT_EQ(holder->mediaInfo->OpenMediaFile(kxtest::Wide(path).c_str()), 0) << name;
        ASSERT_EQ(holder->demuxer->Open(kxtest::Wide(path).c_str(), 0), 0) << name;
        kx::ShareOpenedFile(holder);  // not described yet: nothing to share
        EXPECT_TRUE(Multi(holder).Readers().empty());
        const FileMediaInfo* info = holder->mediaInfo->GetMediainfo();
        ASSERT_NE(info, nullptr) << name;
        kx::ShareOpenedFile(holder);
        EXPECT_EQ(holder->mediaInfo->TakeOpenedContext(), nullptr) << name << ": handed over once";
        EXPECT_EQ(holder->mediaInfo->GetMediainfo(), info) << name;
        for (int s : streams) {
            ASSERT_EQ(holder->demuxer->AddStream(s), 0) << name << " stream " << s;
        }
        ASSERT_EQ(holder->demuxer->StartDemuxer(), 0);
        holder->demuxer->GetControl()->SetHoldSample(1);
        auto got = demuxtest::ReadAll(holder->demuxer->GetControl(), 100000, false);
        ASSERT_EQ(got.size(), want.size()) << name;
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].stream, want[i].stream) << name << " #" << i;
            EXPECT_EQ(got[i].pts, want[i].pts) << name << " #" << i;
            EXPECT_EQ(got[i].dts, want[i].dts) << name << " #" << i;
            EXPECT_EQ(got[i].key, want[i].key) << name << " #" << i;
            EXPECT_EQ(got[i].size, want[i].size) << name << " #" << i;
        }
        kx::DestroyDemuxerHolder(holder);
    }

    kx::DemuxerHolder* holder = nullptr;
    ASSERT_EQ(kx::CreateDemuxerHolder(&holder), 0);
    std::u16string path = kxtest::Wide(Fixture("h264_aac.mp4"));
    ASSERT_EQ(holder->mediaInfo->OpenMediaFile(path.c_str()), 0);
    ASSERT_EQ(holder->demuxer->Open(path.c_str(), 0), 0);
    ASSERT_NE(holder->mediaInfo->GetMediainfo(), nullptr);
    kx::ShareOpenedFile(holder);
    EXPECT_EQ(holder->demuxer->AddStream(7), -1);  // no such stream: the shared file is closed with its reader
    EXPECT_EQ(holder->demuxer->AddStream(0), 0);   // opened afresh
    EXPECT_EQ(Multi(holder).Readers().size(), 1u);
    kx::DestroyDemuxerHolder(holder);
}
