// The readers of a file's streams share one open of it: each reader must
// get what it got with the file to itself (judged against such a reader),
// from the start, after a rewind and after a seek, in files whose streams
// are interleaved and in one whose sound all lies at its end, where the
// packets waiting for the other readers must stay within their bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

#include "TaskTestSupport.h"
#include "TestSupport.h"
#include "input/CTMultiDemuxer.h"
#include "input/CTSingleTDemuxer.h"
#include "input/SharedInput.h"

namespace {

using kxtest::Packet;
using PacketsByStream = std::map<int, std::vector<Packet>>;

// Every packet the control hands out, in its order, by stream.
PacketsByStream ReadAll(kx::ITDemuxerControl* control, bool alone = false) {
    PacketsByStream packets;
    for (const Packet& packet : kxtest::ReadControl(control, alone)) packets[packet.stream].push_back(packet);
    return packets;
}

// What a reader with the file to itself hands out for one stream, on the
// clock of the file's selected streams.
std::vector<Packet> ReadAlone(const std::string& file, int stream, const std::vector<int>& streams) {
    int64_t zero = INT64_MAX;
    for (int each : streams)
        if (const auto reader = kxtest::OpenReader(file, each)) zero = std::min(zero, reader->EarliestStartTicks());
    const auto reader = kxtest::OpenReader(file, stream);
    if (!reader) return {};
    reader->SetTimeZero(zero);
    return ReadAll(reader->GetControl(), true)[stream];
}

bool SamePacket(const Packet& a, const Packet& b) {
    return a.pts == b.pts && a.key == b.key && a.size == b.size;  // decoding times are derived anew after a seek
}

// got is the end of want, from some packet on (all of it when from is 0).
::testing::AssertionResult IsTailOf(const std::vector<Packet>& got, const std::vector<Packet>& want, bool whole) {
    if (got.empty() || got.size() > want.size())
        return ::testing::AssertionFailure() << got.size() << " packets of " << want.size();
    const size_t from = want.size() - got.size();
    if (whole && from != 0) return ::testing::AssertionFailure() << "starts at packet " << from;
    for (size_t i = 0; i < got.size(); ++i)
        if (!SamePacket(got[i], want[from + i]))
            return ::testing::AssertionFailure() << "packet " << i << " (pts " << got[i].pts << ") is not packet "
                                                 << from + i << " (pts " << want[from + i].pts << ")";
    return ::testing::AssertionSuccess();
}

// The file with every sound packet after every picture, as a writer that
// does not interleave leaves it.
std::string WriteSoundLast(const std::string& source, const std::string& target) {
    const kxtest::MediaInput in = kxtest::OpenMediaInput(source);
    if (!in) return "cannot open " + source;
    AVFormatContext* out = nullptr;
    avformat_alloc_output_context2(&out, nullptr, nullptr, target.c_str());
    for (unsigned i = 0; out && i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(out, nullptr);
        avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar);
        stream->time_base = in->streams[i]->time_base;
    }
    std::string failure;
    if (!out || avio_open(&out->pb, target.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(out, nullptr) < 0)
        failure = "cannot write " + target;
    std::vector<AVPacket*> sound;
    kxtest::ForEachPacket(in.get(), [&](AVPacket* packet) {
        if (!failure.empty()) return;
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                             out->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        if (in->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            sound.push_back(av_packet_clone(packet));
        } else if (av_write_frame(out, packet) < 0) {
            failure = "cannot write a picture";
        }
    });
    for (AVPacket*& held : sound) {
        if (failure.empty() && av_write_frame(out, held) < 0) failure = "cannot write sound";
        av_packet_free(&held);
    }
    if (failure.empty() && av_write_trailer(out) < 0) failure = "cannot finish " + target;
    if (out) avio_closep(&out->pb);
    avformat_free_context(out);
    return failure;
}

// Sound packets after 40 s of pictures that take 0.7 MB a second: far more
// than the queues may hold.
std::string SoundLastFile() {
    const std::string folder = kxtest::TempFolder("shared_input");
    const std::string source = folder + "/interleaved.mkv";
    const std::string target = folder + "/sound_last.mkv";
    int status = 0;
    kxtest::RunCommand(
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440 "
        "-t 40 -c:v rawvideo -pix_fmt yuv420p -c:a aac " +
            kxtest::Quote(source) + " 2>&1",
        &status);
    EXPECT_EQ(status, 0);
    const std::string failure = WriteSoundLast(source, target);
    EXPECT_EQ(failure, "");
    return target;
}

struct SharedCase {
    const char* name;
    std::string (*file)();
    std::vector<int> streams;
    int secondOpens;  // readers that must read apart from the shared file
};

class SharedInputReading : public ::testing::TestWithParam<SharedCase> {};

TEST_P(SharedInputReading, EveryReaderGetsWhatItGotAlone) {
    const SharedCase c = GetParam();
    const std::string file = c.file();
    PacketsByStream alone;
    for (int stream : c.streams) {
        alone[stream] = ReadAlone(file, stream, c.streams);
        ASSERT_FALSE(alone[stream].empty()) << "stream " << stream;
    }

    kx::CTMultiDemuxer demuxer;
    ASSERT_EQ(demuxer.Open(kxtest::Wide(file).c_str(), 0), 0);
    for (int stream : c.streams) ASSERT_EQ(demuxer.AddStream(stream), 0);
    ASSERT_EQ(demuxer.StartDemuxer(), 0);
    kx::ITDemuxerControl* control = demuxer.GetControl();

    PacketsByStream shared = ReadAll(control);
    for (int stream : c.streams) EXPECT_TRUE(IsTailOf(shared[stream], alone[stream], true)) << "stream " << stream;

    ASSERT_EQ(control->Rewind(), 1);
    shared = ReadAll(control);
    for (int stream : c.streams)
        EXPECT_TRUE(IsTailOf(shared[stream], alone[stream], true)) << "rewound, stream " << stream;

    // Into the middle: the video on a key frame, the sound from a packet not
    // later than it, each stream on without a gap to its end.
    const Packet& middle = alone[c.streams.front()][alone[c.streams.front()].size() / 2];
    ASSERT_GE(control->Seek(static_cast<double>(middle.pts) / 1e7, kx::SeekMode::kBackwardKey, -1), 0);
    kx::SampleInfo held;
    ASSERT_EQ(control->GetSampleInfo(&held), 1);
    shared = ReadAll(control);
    const std::vector<Packet>& video = shared[c.streams.front()];
    ASSERT_FALSE(video.empty());
    EXPECT_TRUE(video.front().key);
    for (int stream : c.streams) {
        EXPECT_TRUE(IsTailOf(shared[stream], alone[stream], false)) << "after the seek, stream " << stream;
        if (stream != c.streams.front() && !shared[stream].empty()) {
            EXPECT_LE(shared[stream].front().pts, video.front().pts);
        }
    }

    const kx::SharedInput* input = demuxer.Input();
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->SecondOpens(), c.secondOpens);
    EXPECT_LE(input->PeakQueuedBytes(), kx::SharedInput::kMaxQueuedBytes + (1u << 20));  // one picture over at most
}

std::string Mp4() { return kxtest::Fixture("h264_aac.mp4"); }
std::string Matroska() { return kxtest::Fixture("h264_aac.mkv"); }
std::string Transport() { return kxtest::Fixture("h264_aac.ts"); }
std::string Flv() { return kxtest::Fixture("h264_aac.flv"); }
std::string Avi() { return kxtest::Fixture("h264_mp3.avi"); }

INSTANTIATE_TEST_SUITE_P(Files, SharedInputReading,
                         ::testing::Values(SharedCase{"mp4", Mp4, {0, 1}, 0},
                                           SharedCase{"matroska", Matroska, {0, 1}, 0},
                                           SharedCase{"transport_stream", Transport, {0, 1}, 0},
                                           SharedCase{"flv", Flv, {0, 1}, 0}, SharedCase{"avi", Avi, {0, 1}, 0},
                                           SharedCase{"sound_last", SoundLastFile, {0, 1}, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
