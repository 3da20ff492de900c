// The stream readers, judged by ffprobe on the fixtures: one stream alone,
// all streams merged, seeks, the key frame scan, program streams whose
// pictures are not all timed, and decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/frame.h>
}

#include "input/CTMediaInfo.h"
#include "input/CTMultiDemuxer.h"
#include "input/CTSingleTDemuxer.h"
#include "input/DecodedFrameStore.h"
#include "input/DemuxerHolder.h"
#include "input/KeyFrameIndexStore.h"
#include "ProgramStreamMedia.h"
#include "TestSupport.h"

using kxtest::ClockZero;
using kxtest::Fixture;
using kxtest::Packet;
using kxtest::ProbeTicksOnClock;

namespace {

// Reads until the control reports nothing more. A single-file reader is told
// to release each sample after GetPacket; the multi-reader advances by
// ReadNext alone (release = false).
std::vector<Packet> ReadPackets(kx::ITDemuxerControl* control, size_t limit = 100000, bool release = true) {
    std::vector<Packet> packets;
    AVPacket* packet = av_packet_alloc();
    while (packets.size() < limit && control->ReadNext() == 1) {
        kx::SampleInfo info;
        if (!control->GetSampleInfo(&info) || control->GetPacket(packet) != 1) break;
        packets.push_back({packet->stream_index, packet->pts, packet->dts, (packet->flags & AV_PKT_FLAG_KEY) != 0,
                           packet->size});
        // The info must describe the packet handed out.
        EXPECT_EQ(info.streamIndex, packet->stream_index);
        EXPECT_EQ(info.pts, packet->pts);
        EXPECT_EQ(info.flags, packet->flags);
        if (release) control->SetSampleReady(0);
    }
    av_packet_free(&packet);
    return packets;
}

std::unique_ptr<kx::CTSingleTDemuxer> OpenSingle(const std::string& file, std::vector<int> streams) {
    auto reader = std::make_unique<kx::CTSingleTDemuxer>();
    reader->Initialize();
    if (reader->Open(kxtest::Wide(file).c_str(), 0) != 0) return nullptr;
    for (int s : streams)
        if (reader->AddStream(s) != 0) return nullptr;
    reader->StartDemuxer();
    return reader;
}

std::unique_ptr<kx::ITDemuxer> OpenMulti(const std::string& path, std::vector<int> streams, int decodeMode = 0) {
    std::unique_ptr<kx::ITDemuxer> demuxer(CreateMultiDemuxer());
    if (!demuxer || demuxer->Initialize() != 0) return nullptr;
    if (demuxer->Open(kxtest::Wide(path).c_str(), decodeMode) != 0) return nullptr;
    for (int s : streams)
        if (demuxer->AddStream(s) != 0) return nullptr;
    if (demuxer->StartDemuxer() != 0) return nullptr;
    if (!decodeMode) demuxer->GetControl()->SetHoldSample(1);  // as the converter starts its inputs
    return demuxer;
}

const kx::CTMultiDemuxer& Multi(const kx::ITDemuxer* d) { return static_cast<const kx::CTMultiDemuxer&>(*d); }

// Stream, times, key flag and size of every packet; a container without
// decoding times gets them derived: rising, never after the pts.
void ExpectSamePackets(const std::vector<Packet>& got, const std::vector<Packet>& want, const std::string& what,
                       bool derivedDts = false) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(what + " packet " + std::to_string(i));
        ASSERT_EQ(got[i].stream, want[i].stream);
        ASSERT_EQ(got[i].pts, want[i].pts);
        if (derivedDts) {
            ASSERT_LE(got[i].dts, got[i].pts);
            if (i) {
                ASSERT_GT(got[i].dts, got[i - 1].dts);
            }
        } else {
            ASSERT_EQ(got[i].dts, want[i].dts);
        }
        ASSERT_EQ(got[i].key, want[i].key);
        ASSERT_EQ(got[i].size, want[i].size);
    }
}

// ffprobe's packets of the streams, merged the way the multi-reader promises:
// the smallest pts of the stream heads first, the lower stream index on ties.
std::vector<Packet> ExpectedMerge(const std::string& path, std::vector<int> streams) {
    std::sort(streams.begin(), streams.end());
    std::vector<std::vector<Packet>> lists;
    const int64_t zero = ClockZero(path, streams);
    for (int s : streams) lists.push_back(ProbeTicksOnClock(path, s, zero));
    std::vector<size_t> heads(lists.size(), 0);
    std::vector<Packet> merged;
    for (;;) {
        int best = -1;
        for (size_t i = 0; i < lists.size(); ++i) {
            if (heads[i] >= lists[i].size()) continue;
            const Packet& p = lists[i][heads[i]];
            const Packet* b = best < 0 ? nullptr : &lists[best][heads[best]];
            if (!b || p.pts < b->pts || (p.pts == b->pts && p.stream < b->stream)) best = static_cast<int>(i);
        }
        if (best < 0) break;
        merged.push_back(lists[best][heads[best]++]);
    }
    return merged;
}

void ExpectIndex(const kx::KeyFrameIndex* index, const std::vector<KeyFrameRecord>& want, const std::string& what,
                 size_t offset = 0) {
    ASSERT_NE(index, nullptr) << what;
    ASSERT_GE(kx::KeyFrameCount(index), static_cast<int32_t>(offset)) << what;
    kxtest::ExpectKeyFrames(index->entries + offset, kx::KeyFrameCount(index) - static_cast<int32_t>(offset), want,
                            what);
}

struct ProgressLog {
    std::vector<int64_t> values;
    int badCalls = 0;
    static int32_t Record(int32_t code, int64_t value, int64_t reserved, void* context) {
        auto* log = static_cast<ProgressLog*>(context);
        if (code != kx::kAnalyzeProgressCode || reserved != 0) ++log->badCalls;
        log->values.push_back(value);
        return 0;
    }
};

// The fixtures and what each is read for. `merged` is the multi-reader's
// stream selection in AddStream order (empty: not read that way).
struct Container {
    const char* file;
    std::vector<int> streams;
    std::vector<int> merged;
    bool seek = false;    // video seeks land on key frames
    bool rewind = false;  // a key frame scan rewinds the reader
};

const Container kContainers[] = {
    {"h264_aac.mp4", {0, 1}, {1, 0}, true},
    {"h264_aac.mkv", {0, 1}, {0, 1}, true, true},
    {"h264_aac.ts", {0, 1}, {0, 1}, true, true},
    {"h264_aac.m2ts", {0, 1}, {}},
    {"h264_bframes_opengop.mp4", {0, 1}, {}, true, true},
    {"h264_mp3.avi", {0, 1}, {0, 1}, false, true},
    {"mpeg1.mpg", {0, 1}, {}},
    {"two_programs.ts", {0, 1, 2, 3}, {3, 0, 2, 1}},
    {"audio_only.m4a", {0}, {0}},
    {"rotated90.mp4", {0}, {}},
    {"truncated.mp4", {0, 1}, {}},
    {"small_pframes.mp4", {0}, {}},
    {"small_pframes.mkv", {0}, {}},
    {"small_pframes.flv", {0}, {}},
};

}  // namespace

// Every stream of every fixture, read alone, delivers what ffprobe lists for
// it: same count, order, timestamps (in ticks), key flags and sizes.
TEST(DemuxReader, EachStreamAloneEqualsFfprobe) {
    for (const auto& c : kContainers) {
        const std::string path = Fixture(c.file);
        for (int s : c.streams) {
            auto reader = OpenSingle(path, {s});
            ASSERT_NE(reader, nullptr) << c.file;
            auto got = ReadPackets(reader->GetControl());
            EXPECT_EQ(reader->GetControl()->IsEndOfStream(), 1);
            auto want = ProbeTicksOnClock(path, s, ClockZero(path, {s}));
            const bool video = kxtest::ProbeStream(path, s)["codec_type"] == "video";
            ExpectSamePackets(got, want, std::string(c.file) + " stream " + std::to_string(s),
                              video && !want.empty() && want.front().dts == kx::kNoPts);
        }
    }
}

// The multi-reader delivers all streams in pts order, the lower index first
// on ties. The media information reader's open file, handed to the first
// stream reader once the file is described, reads the same packets.
TEST(DemuxReader, AllStreamsMergedAndTheDescribedFileReadsAsAFreshOne) {
    for (const auto& c : kContainers) {
        if (c.merged.empty()) continue;
        const std::string path = Fixture(c.file);
        auto fresh = OpenMulti(path, c.merged);
        ASSERT_NE(fresh, nullptr) << c.file;
        auto got = ReadPackets(fresh->GetControl(), 100000, false);
        EXPECT_EQ(fresh->GetControl()->IsEndOfStream(), 1);
        EXPECT_EQ(fresh->GetControl()->ReadNext(), 0);
        EXPECT_EQ(fresh->GetControl()->HasSample(), 0);
        if (std::string(c.file) != "h264_mp3.avi") {  // its pts come out in file order only
            auto want = ExpectedMerge(path, c.merged);
            ASSERT_EQ(got.size(), want.size()) << c.file;
            int ties = 0;
            for (size_t i = 0; i < want.size(); ++i) {
                ASSERT_EQ(got[i].stream, want[i].stream) << c.file << " #" << i;
                ASSERT_EQ(got[i].pts, want[i].pts) << c.file << " #" << i;
                ASSERT_EQ(got[i].key, want[i].key) << c.file << " #" << i;
                if (i && got[i].pts == got[i - 1].pts) {
                    ++ties;
                    EXPECT_LT(got[i - 1].stream, got[i].stream) << c.file << " #" << i;
                }
                if (i) {  // no B-frames here
                    EXPECT_GE(got[i].pts, got[i - 1].pts) << c.file << " #" << i;
                }
            }
            if (std::string(c.file) == "two_programs.ts") {  // equal times in both programs
                EXPECT_GT(ties, 0);
            }
        }

        kx::DemuxerHolder* holder = nullptr;
        ASSERT_EQ(kx::CreateDemuxerHolder(&holder), 0);
        const std::u16string wide = kxtest::Wide(path);
        ASSERT_EQ(holder->mediaInfo->OpenMediaFile(wide.c_str()), 0) << c.file;
        ASSERT_EQ(holder->demuxer->Open(wide.c_str(), 0), 0) << c.file;
        kx::ShareOpenedFile(holder);  // not described yet: nothing to share
        EXPECT_TRUE(Multi(holder->demuxer).Readers().empty());
        const FileMediaInfo* info = holder->mediaInfo->GetMediainfo();
        ASSERT_NE(info, nullptr) << c.file;
        kx::ShareOpenedFile(holder);
        EXPECT_EQ(holder->mediaInfo->TakeOpenedContext(), nullptr) << c.file << ": handed over once";
        EXPECT_EQ(holder->mediaInfo->GetMediainfo(), info) << c.file;
        for (int s : c.merged) ASSERT_EQ(holder->demuxer->AddStream(s), 0) << c.file << " stream " << s;
        ASSERT_EQ(holder->demuxer->StartDemuxer(), 0);
        holder->demuxer->GetControl()->SetHoldSample(1);
        ExpectSamePackets(ReadPackets(holder->demuxer->GetControl(), 100000, false), got,
                          std::string(c.file) + " shared");
        kx::DestroyDemuxerHolder(holder);
    }

    // A stream that cannot be read takes the handed-over file with it without harming the next one.
    kx::DemuxerHolder* holder = nullptr;
    ASSERT_EQ(kx::CreateDemuxerHolder(&holder), 0);
    std::u16string path = kxtest::Wide(Fixture("h264_aac.mp4"));
    ASSERT_EQ(holder->mediaInfo->OpenMediaFile(path.c_str()), 0);
    ASSERT_EQ(holder->demuxer->Open(path.c_str(), 0), 0);
    ASSERT_NE(holder->mediaInfo->GetMediainfo(), nullptr);
    kx::ShareOpenedFile(holder);
    EXPECT_EQ(holder->demuxer->AddStream(7), -1);
    EXPECT_EQ(holder->demuxer->AddStream(0), 0);  // opened afresh
    EXPECT_EQ(Multi(holder->demuxer).Readers().size(), 1u);
    kx::DestroyDemuxerHolder(holder);
}

// Reading two streams through one single-file reader interleaves them in file order.
TEST(DemuxReader, TwoStreamsOfOneReaderComeInFileOrder) {
    std::string path = Fixture("h264_aac.mp4");
    auto reader = OpenSingle(path, {0, 1});
    ASSERT_NE(reader, nullptr);
    reader->GetControl()->SetHoldSample(0);  // forget the held sample on every read
    auto got = ReadPackets(reader->GetControl());
    auto order = kxtest::Lines(
        kxtest::RunCommand("ffprobe -v error -show_entries packet=stream_index -of csv=p=0 " + path));
    ASSERT_EQ(got.size(), order.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(std::to_string(got[i].stream), order[i].substr(0, order[i].find(','))) << i;
}

// The multi-file reader counts as ended when its first stream ends, while the
// other streams' packets keep coming.
TEST(DemuxReader, EndOfStreamWhenTheShorterStreamEnds) {
    auto demuxer = OpenMulti(Fixture("h264_aac.ts"), {0, 1});  // audio ends after video
    ASSERT_NE(demuxer, nullptr);
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
    EXPECT_EQ(survivor, 1);   // the audio runs 20 ms longer here
    EXPECT_EQ(afterEnd, 1u);  // the audio packet at 11.405 s, after the video ended at 11.381 s
    EXPECT_EQ(total, 720u);
}

TEST(DemuxReader, BadFilesFailToOpen) {
    kx::CTSingleTDemuxer reader;
    EXPECT_EQ(reader.Open(nullptr, 0), -1);
    EXPECT_EQ(reader.Open(kxtest::Wide(Fixture("garbage.bin")).c_str(), 0), -1);
    EXPECT_EQ(reader.Open(u"/nonexistent/dir/missing.mp4", 0), -1);
    EXPECT_EQ(reader.GetControl(), nullptr);
    // Non-ASCII names open by their UTF-8 form.
    EXPECT_EQ(reader.Open(kxtest::Wide(Fixture("Fête_vidéo_ü.mp4")).c_str(), 0), 0);
}

// A video seek lands on the first key frame at or after the target (1 ms of
// slack), whatever the container; after a key frame scan the reader starts
// again from the first packet.
TEST(DemuxReader, VideoSeekLandsOnAKeyFrameAndAScanRewinds) {
    for (const auto& c : kContainers) {
        const std::string path = Fixture(c.file);
        if (c.seek) {
            std::vector<int64_t> keys;
            for (const auto& p : ProbeTicksOnClock(path, 0, ClockZero(path, {0, 1})))
                if (p.key) keys.push_back(p.pts);
            auto reader = OpenSingle(path, {0, 1});
            ASSERT_NE(reader, nullptr);
            auto* control = reader->GetControl();
            for (double seconds : {0.0, 3.0, 3.5, 7.2, 2.9995, 6.0, 1.0}) {
                SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(seconds));
                const int64_t target = static_cast<int64_t>(seconds * 1e7);
                int64_t want = INT64_MIN;
                for (int64_t k : keys)
                    if (k > target - 10000) {
                        want = k;
                        break;
                    }
                EXPECT_GE(control->Seek(seconds, kx::SeekMode::kBackwardKey, -1), 0);  // -1: the video stream
                kx::SampleInfo info;
                ASSERT_EQ(control->GetSampleInfo(&info), 1);
                EXPECT_EQ(info.streamIndex, 0);
                EXPECT_EQ(info.pts, want);
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
            EXPECT_EQ(control->HasSample(), 0) << c.file;
            EXPECT_EQ(control->IsEndOfStream(), 0);
        }
        if (c.rewind) {
            auto reader = OpenSingle(path, {0});
            ASSERT_NE(reader, nullptr);
            EXPECT_EQ(ReadPackets(reader->GetControl(), 10).size(), 10u);  // somewhere in the middle
            ASSERT_NE(reader->GetAnalyze()->GetKeyFrameIndex(0), nullptr);
            auto packets = ReadPackets(reader->GetControl());
            auto want = ProbeTicksOnClock(path, 0, ClockZero(path, {0}));
            ASSERT_EQ(packets.size(), want.size()) << c.file;
            for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(packets[i].pts, want[i].pts) << c.file << " " << i;
        }
    }
}

TEST(DemuxReader, AudioSeekAndBadSeekTargets) {
    std::string path = Fixture("h264_aac.mp4");
    auto audio = kxtest::ProbeTicks(path, 1);
    auto reader = OpenSingle(path, {1});
    ASSERT_NE(reader, nullptr);
    auto* control = reader->GetControl();
    EXPECT_EQ(control->Seek(4.0, kx::SeekMode::kAny, 1), 1);  // any packet: the first at or after 4 s
    kx::SampleInfo info;
    ASSERT_EQ(control->GetSampleInfo(&info), 1);
    int64_t want = 0;
    for (const auto& p : audio)
        if (p.dts >= 40'000'000) {
            want = p.pts;
            break;
        }
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

// Video lands on a key frame; audio follows to the time the video reached.
TEST(DemuxReader, MultiReaderSeekVideoFirstThenAudioFollows) {
    auto demuxer = OpenMulti(Fixture("h264_aac.mp4"), {0, 1});
    ASSERT_NE(demuxer, nullptr);
    auto* control = demuxer->GetControl();
    EXPECT_EQ(control->ReadNext(), 1);
    for (double seconds : {4.2, 10.0, 0.0, 7.0}) {
        EXPECT_GE(control->Seek(seconds, kx::SeekMode::kBackwardKey, -1), 0) << seconds;
        kx::SampleInfo video, sound;
        auto* videoReader = Multi(demuxer.get()).Readers().at(0).reader->GetControl();
        if (seconds >= 10.0) {  // past the last key frame (9 s): the video reader holds nothing
            EXPECT_EQ(videoReader->GetSampleInfo(&video), 0);
            continue;
        }
        ASSERT_EQ(videoReader->GetSampleInfo(&video), 1) << seconds;
        EXPECT_EQ(video.pts, static_cast<int64_t>(std::ceil(seconds)) * 10'000'000) << seconds;  // a key frame a second
        EXPECT_EQ(video.flags & 1, 1);
        ASSERT_EQ(Multi(demuxer.get()).Readers().at(1).reader->GetControl()->GetSampleInfo(&sound), 1) << seconds;
        // The audio stands a little before the video, so that the packet
        // sounding across the video's time is read too.
        EXPECT_LE(sound.pts, video.pts) << seconds;
        EXPECT_GE(sound.pts, video.pts - 25'000'000) << seconds;
        // Reading goes on from the two positions in pts order.
        auto got = ReadPackets(control, 6, false);
        ASSERT_EQ(got.size(), 6u);
        EXPECT_EQ(got[0].pts, std::min(video.pts, sound.pts));
        for (size_t i = 1; i < got.size(); ++i) EXPECT_GE(got[i].pts, got[i - 1].pts);
    }
}

TEST(DemuxReader, ScanProgressEveryFramesPerPercentThenHundred) {
    struct Case {
        const char* file;
        std::vector<int64_t> want;  // empty: rising to 100 is enough
        size_t reports;
    };
    // 10 s at 25 fps: 250 frames, 2 per percent.
    std::vector<int64_t> tenSeconds;
    for (int packet = 2; packet <= 250; packet += 2) tenSeconds.push_back(static_cast<int64_t>((packet - 1) * 0.4));
    tenSeconds.push_back(100);
    const Case cases[] = {
        {"h264_aac.mp4", tenSeconds, tenSeconds.size()},
        {"h264_aac_mono44k.mp4", {}, 101},  // fewer than 100 frames: a report after every packet
        {"h264_aac.mkv", {}, 0},  // no stream length in the container: from the file's length
    };
    for (const auto& c : cases) {
        auto reader = OpenSingle(Fixture(c.file), {});
        ASSERT_NE(reader, nullptr) << c.file;
        ProgressLog log;
        auto* analyze = reader->GetAnalyze();
        EXPECT_EQ(analyze->SetProgressCallback(0, nullptr, &log), 0);
        EXPECT_EQ(analyze->SetProgressCallback(0, &ProgressLog::Record, &log), 1);
        ASSERT_NE(analyze->GetKeyFrameIndex(0), nullptr) << c.file;
        EXPECT_EQ(log.badCalls, 0);
        if (!c.want.empty()) {
            EXPECT_EQ(log.values, c.want);
        }
        if (c.reports) {
            EXPECT_EQ(log.values.size(), c.reports) << c.file;
        }
        ASSERT_GT(log.values.size(), 100u) << c.file;
        for (size_t i = 1; i < log.values.size(); ++i) EXPECT_GE(log.values[i], log.values[i - 1]) << c.file;
        EXPECT_EQ(log.values.back(), 100) << c.file;
    }
}

// Scans append to the same index; a cancelled scan empties it.
TEST(DemuxReader, SecondScanAppendsAndCancelFromAnotherThreadEmpties) {
    std::string path = Fixture("h264_aac.mp4");
    auto want = kxtest::ProbeKeyFrames(path, 0, ClockZero(path, {0}));
    auto reader = OpenSingle(path, {0});
    ASSERT_NE(reader, nullptr);
    auto* analyze = static_cast<kx::CTSingleAnalyze*>(reader->GetAnalyze());
    ExpectIndex(analyze->GetKeyFrameIndex(0), want, "first");
    ExpectIndex(analyze->GetKeyFrameIndex(0), want, "second", want.size());

    // At the tenth report another thread cancels; the scan sees it before
    // its next packet.
    struct CancelOnReport {
        kx::ITAnalyze* analyze;
        std::vector<int64_t> values;
        static int32_t Hook(int32_t, int64_t value, int64_t, void* context) {
            auto* self = static_cast<CancelOnReport*>(context);
            self->values.push_back(value);
            if (self->values.size() == 10) std::thread([self] { self->analyze->Cancel(0); }).join();
            return 0;
        }
    } hook{analyze, {}};
    analyze->SetProgressCallback(0, &CancelOnReport::Hook, &hook);
    EXPECT_EQ(analyze->GetKeyFrameIndex(0), nullptr);
    EXPECT_EQ(hook.values.size(), 11u);
    EXPECT_EQ(hook.values.back(), 100);  // the end is reported after a cancel too
    EXPECT_EQ(kx::KeyFrameCount(analyze->Index()), 0);
    EXPECT_EQ(analyze->Index()->lastSlot, 255);

    // The next scan starts clean and the file was rewound for the reader.
    ExpectIndex(analyze->GetKeyFrameIndex(0), want, "after cancel");
    EXPECT_EQ(ReadPackets(reader->GetControl()).size(), 250u);
}

TEST(DemuxReader, MultiReaderAnalyzeForwardsToTheStreamsReader) {
    std::string path = Fixture("h264_aac.ts");
    std::unique_ptr<kx::ITDemuxer> demuxer(CreateMultiDemuxer());
    ASSERT_EQ(demuxer->Initialize(), 0);
    ASSERT_EQ(demuxer->Open(kxtest::Wide(path).c_str(), 0), 0);
    ASSERT_EQ(demuxer->AddStream(0), 0);
    ASSERT_EQ(demuxer->AddStream(1), 0);
    auto* analyze = demuxer->GetAnalyze();
    ASSERT_NE(analyze, nullptr);
    EXPECT_EQ(analyze->IsReady(), 1);
    // The converter asks for descriptions before it starts the readers.
    kx::StreamMediaInfo* early = analyze->GetMediaInfo(0);
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(early->mediaType, kx::MediaType::kVideo);
    analyze->FreeMediaInfo(early);
    ASSERT_EQ(demuxer->StartDemuxer(), 0);
    EXPECT_EQ(demuxer->StartDemuxer(), -1);
    ProgressLog log;
    EXPECT_EQ(analyze->SetProgressCallback(3, &ProgressLog::Record, &log), 0);  // no reader
    EXPECT_EQ(analyze->SetProgressCallback(0, &ProgressLog::Record, &log), 1);
    ExpectIndex(analyze->GetKeyFrameIndex(0), kxtest::ProbeKeyFrames(path, 0, ClockZero(path, {0, 1})), "multi ts");
    EXPECT_EQ(log.values.back(), 100);
    EXPECT_EQ(analyze->GetKeyFrameIndex(1), nullptr);
    EXPECT_EQ(analyze->GetKeyFrameIndex(2), nullptr);
    EXPECT_EQ(analyze->GetMediaInfo(2), nullptr);
    analyze->Cancel(5);  // no reader: nothing happens
    kx::StreamMediaInfo* info = analyze->GetMediaInfo(1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->mediaType, kx::MediaType::kAudio);
    analyze->FreeMediaInfo(info);
    analyze->FreeMediaInfo(nullptr);
}

// Program streams time only the packets that begin a PES packet carrying a
// time, and the library's parser may give a small picture the times of the
// next. A transport stream times every packet: one encode, remuxed into both,
// must come out of the readers with the same packets, key frame index and
// seeks; a seek holds its key frame whole, never with the tail of another
// picture in front.
TEST(DemuxReader, ProgramStreamReadsAsItsTransportStream) {
    int untimedKeys = 0;
    for (const auto& c : pstest::kCases) {
        const auto [ts, ps] = pstest::Made(c);
        int untimed = 0;
        for (const auto& p : kxtest::ProbeTicks(ps, 0)) {
            untimed += p.pts == kx::kNoPts;
            untimedKeys += p.pts == kx::kNoPts && p.key;
        }
        ASSERT_GT(untimed, 0) << c.name << ": the program stream times every picture";
        for (int stream : {0, 1}) {
            const auto want = ReadPackets(OpenSingle(ts, {stream})->GetControl());
            const auto got = ReadPackets(OpenSingle(ps, {stream})->GetControl());
            const std::string what = std::string(c.name) + " stream " + std::to_string(stream);
            ASSERT_FALSE(want.empty()) << what;
            ASSERT_EQ(got.size(), want.size()) << what;
            for (size_t i = 0; i < want.size(); ++i) {
                ASSERT_EQ(got[i].pts, want[i].pts) << what << " packet " << i;
                ASSERT_EQ(got[i].dts, want[i].dts) << what << " packet " << i;
                ASSERT_EQ(got[i].key, want[i].key) << what << " packet " << i;
            }
        }

        auto tsReader = OpenSingle(ts, {0});
        auto psReader = OpenSingle(ps, {0});
        ASSERT_TRUE(tsReader && psReader) << c.name;
        const kx::KeyFrameIndex* wantIndex = tsReader->GetAnalyze()->GetKeyFrameIndex(0);
        const kx::KeyFrameIndex* gotIndex = psReader->GetAnalyze()->GetKeyFrameIndex(0);
        ASSERT_TRUE(wantIndex && gotIndex) << c.name;
        ASSERT_EQ(kx::KeyFrameCount(gotIndex), kx::KeyFrameCount(wantIndex)) << c.name;
        for (int32_t i = 0; i < kx::KeyFrameCount(wantIndex); ++i) {
            EXPECT_EQ(gotIndex->entries[i].time, wantIndex->entries[i].time) << c.name << " key frame " << i;
            EXPECT_EQ(gotIndex->entries[i].frameNumber, wantIndex->entries[i].frameNumber) << c.name << " key frame " << i;
        }

        std::map<int64_t, int> keySizes;  // pts -> size, as read from the start
        for (const auto& p : ReadPackets(OpenSingle(ps, {0})->GetControl()))
            if (p.key) keySizes[p.pts] = p.size;
        ASSERT_GT(keySizes.size(), 2u) << c.name;
        auto reader = OpenSingle(ps, {0});
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
    EXPECT_GT(untimedKeys, 0) << "no case has a key frame without a time";
}

// With uneven frame spacing the pictures without a time get estimates; they
// must still be shown in their order, decoded before they are shown, and
// decoded in the order they are read.
TEST(DemuxReader, ProgramStreamWithUnevenSpacingKeepsTheDisplayOrder) {
    const auto [ts, ps] = pstest::Made(pstest::kUneven);
    const auto want = ReadPackets(OpenSingle(ts, {0})->GetControl());
    const auto got = ReadPackets(OpenSingle(ps, {0})->GetControl());
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.size(), want.size());
    int untimed = 0;
    for (const auto& p : kxtest::ProbeTicks(ps, 0)) untimed += p.pts == kx::kNoPts;
    ASSERT_GT(untimed, 0);
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

TEST(DemuxReader, TruncatedFileDecodesToItsEnd) {
    auto demuxer = OpenMulti(Fixture("truncated.mp4"), {0}, 1);
    ASSERT_NE(demuxer, nullptr);
    auto* control = demuxer->GetControl();
    size_t pictures = 0;
    // What the decoding stream object does: ReadNext, then GetDecodedFrame.
    while (pictures <= 10000 && control->ReadNext() == 1) {
        kx::DecodedFrame* frame = control->GetDecodedFrame();
        if (!frame) break;
        ++pictures;
        EXPECT_EQ(frame->type, kx::MediaType::kVideo);
        EXPECT_EQ(frame->duration, -1);
        EXPECT_EQ(frame->dts, frame->pts);
        const auto& v = frame->video;
        EXPECT_EQ(v.u, v.y + v.width * v.height);
        EXPECT_EQ(v.v, v.u + (v.width / 2) * (v.height / 2));
        EXPECT_EQ(v.yRowLength, v.width);
        EXPECT_EQ(v.uRowLength, v.width / 2);
    }
    EXPECT_GT(pictures, 50u);
    EXPECT_LE(pictures, 100u);
    EXPECT_EQ(control->IsEndOfStream(), 1);
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
    AVFrame* odd = makeFrame(AV_PIX_FMT_YUV420P, 5, 3);
    ASSERT_TRUE(kx::FillVideoRecord(record, odd));
    EXPECT_EQ(record->video.width, 6);
    EXPECT_EQ(record->video.height, 4);
    EXPECT_EQ(record->video.y[5], record->video.y[4]);                  // column 5 repeats column 4
    EXPECT_EQ(record->video.y[3 * 6 + 2], record->video.y[2 * 6 + 2]);  // row 3 repeats row 2
    EXPECT_EQ(record->video.u[0], odd->data[1][0]);
    EXPECT_EQ(record->video.v[1 * 3 + 2], odd->data[2][1 * odd->linesize[2] + 2]);
    av_frame_free(&odd);

    AVFrame* gray = makeFrame(AV_PIX_FMT_GRAY8, 64, 48);
    ASSERT_TRUE(kx::FillVideoRecord(record, gray));  // larger than before: a new buffer
    EXPECT_GE(record->storageSize, 64 * 48 + 2 * 32 * 24);
    EXPECT_EQ(record->video.u[0], 128);
    EXPECT_EQ(record->video.v[32 * 24 - 1], 128);
    av_frame_free(&gray);

    AVFrame* quarter = makeFrame(AV_PIX_FMT_YUV410P, 16, 16);  // chroma 4x4
    ASSERT_TRUE(kx::FillVideoRecord(record, quarter));
    EXPECT_EQ(record->video.u[7 * 8 + 7], record->video.u[3 * 8 + 3]);
    av_frame_free(&quarter);

    AVFrame* packed = makeFrame(AV_PIX_FMT_RGB24, 7, 5);
    ASSERT_TRUE(kx::FillVideoRecord(record, packed));
    EXPECT_EQ(record->video.width, 8);
    av_frame_free(&packed);

    AVFrame* empty = av_frame_alloc();
    EXPECT_FALSE(kx::FillVideoRecord(record, empty));
    EXPECT_FALSE(kx::FillVideoRecord(nullptr, empty));
    av_frame_free(&empty);
    kx::FreeDecodedFrame(record);
}
