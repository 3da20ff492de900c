// CTMuxer's set-up and packet path on hand-made packets: what each container
// receives is read back with the library.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "MuxTestSupport.h"
#include "output/CTMuxer.h"
#include "output/PacketEdits.h"
#include "platform/LegacyLogLines.h"
#include "task/FileRecord.h"
#include "TaskTestSupport.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::u16string kNalHeaderError = kx::legacy::kThreeByteStartCode;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes BigEndian32(size_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

// A packet owning a copy of `payload`, at frame `frame` of a 25 fps stream.
PacketPtr MakePacket(const Bytes& payload, int64_t frame, int flags) {
    PacketPtr packet(av_packet_alloc());
    av_new_packet(packet.get(), static_cast<int>(payload.size()));
    std::memcpy(packet->data, payload.data(), payload.size());
    packet->pts = packet->dts = frame * 400000;
    packet->duration = 400000;
    packet->flags = flags;
    return packet;
}

// An H.264 video record without a global header.
kx::StreamMediaInfo BareH264Video() {
    kx::StreamMediaInfo info;
    info.mediaType = kx::MediaType::kVideo;
    info.codecId = 28;
    info.video.width = 320;
    info.video.height = 240;
    info.video.frameRate[0] = 25;
    info.video.frameRate[1] = 1;
    return info;
}

std::u16string WideName(const std::string& path) { return kxtest::Wide(path); }

// Opens `path` for one video stream under key 0 and writes the header.
void OpenWithVideo(CTMuxer& muxer, const std::string& path, const kx::StreamMediaInfo& video) {
    kx::MediaStreamPair pair;
    pair.video = const_cast<kx::StreamMediaInfo*>(&video);
    const std::u16string name = WideName(path);
    ASSERT_EQ(muxer.OpenMuxer(name.c_str(), &pair), 0);
    ASSERT_EQ(muxer.AddStream(0, &video), 0);
    ASSERT_EQ(muxer.WriteHeader(), 0);
}

size_t CountOccurrences(const Bytes& haystack, const Bytes& needle) {
    size_t count = 0;
    for (auto it = haystack.begin(); (it = std::search(it, haystack.end(), needle.begin(), needle.end())) !=
                                     haystack.end();
         ++it)
        ++count;
    return count;
}

// Hand-made packets read back as the container stores them: MP4 takes length
// prefixes, the others start codes behind the transport stream's access unit
// delimiter. A unit of 256 to 511 bytes has a prefix that begins 00 00 01:
// still a length prefix. A zero length drops the packet without an error.
TEST(MuxPacketTest, PayloadsTakeTheContainersForm) {
    const Bytes aud = {0, 0, 0, 1, 0x09, 0xF0}, code = {0, 0, 0, 1};
    const Bytes first(20, 0x21), second(30, 0x32);
    const Bytes threeByte = Concat({{0, 0, 1, 0x65}, Bytes(30, 0x44), {0, 0, 1, 0x41}, Bytes(10, 0x55)});
    const Bytes unit = Concat({{0x65}, Bytes(299, 0x47)});
    const Bytes longUnit = Concat({BigEndian32(300), unit});
    struct Case {
        const char* name;
        std::vector<Bytes> packets;
        std::vector<Bytes> stored;
        bool logged;  // the three-byte start code line
    };
    const Case cases[] = {
        {"start_code.mp4", {Concat({code, {0x65}, Bytes(95, 0xAB)})}, {Concat({{0, 0, 0, 0x60, 0x65}, Bytes(95, 0xAB)})},
         false},
        {"prefixes.ts",
         {Concat({BigEndian32(20), first, BigEndian32(30), second}), Concat({BigEndian32(20), first, BigEndian32(0), second}),
          Concat({BigEndian32(30), second})},
         {Concat({aud, code, first, code, second}), Concat({aud, code, second})}, false},
        {"three_byte.ts", {threeByte}, {Concat({aud, threeByte})}, true},  // already in start-code form
        {"three_byte.mp4", {threeByte},
         {Concat({BigEndian32(31), {0x65}, Bytes(30, 0x44), BigEndian32(11), {0x41}, Bytes(10, 0x55)})}, true},
        {"long_unit.mp4", {longUnit}, {longUnit}, false},
        {"long_unit.ts", {longUnit}, {Concat({aud, code, unit})}, false},
    };
    muxtest::SourceReader source(kxtest::Fixture("h264_aac.mp4"));
    const kx::StreamMediaInfo* video = source.Info(source.FirstStreamOf(kx::MediaType::kVideo));
    ASSERT_NE(video, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kxtest::LogCapture log;
        const std::string path = muxtest::OutputPath(c.name);
        const bool mp4 = std::string(c.name).ends_with(".mp4");
        {
            CTMuxer muxer;
            OpenWithVideo(muxer, path, mp4 ? *video : BareH264Video());
            for (size_t i = 0; i < c.packets.size(); ++i) {
                PacketPtr packet = MakePacket(c.packets[i], static_cast<int>(i), mp4 ? AV_PKT_FLAG_KEY : 0);
                EXPECT_EQ(muxer.WritePacket(0, packet.get()), 0);
            }
            muxer.CloseMuxer();
        }
        if (c.logged) {
            EXPECT_TRUE(log.Contains(kNalHeaderError));
        } else {
            EXPECT_FALSE(log.Contains(kNalHeaderError));
        }
        EXPECT_EQ(muxtest::ReadPayloads(path, 10, mp4 ? nullptr : "mpegts"), c.stored);
    }
}

// The source's avcC (one SPS of n, one PPS of m bytes) becomes an avcC of
// 11 + n + m bytes for MP4 and MOV, and an Annex B header of n + m + 8 bytes,
// SPS first, for the others.
TEST(MuxPacketTest, GlobalHeaderFollowsTheContainer) {
    muxtest::SourceReader source(kxtest::Fixture("h264_aac.mp4"));
    const kx::StreamMediaInfo* video = source.Info(source.FirstStreamOf(kx::MediaType::kVideo));
    ASSERT_NE(video, nullptr);
    const uint8_t* avcC = video->video.extradata;
    ASSERT_GT(video->video.extradataSize, 8);
    ASSERT_EQ(avcC[0], 1);
    ASSERT_EQ(avcC[5] & 0x1F, 1);
    const size_t n = (size_t{avcC[6]} << 8) | avcC[7];
    ASSERT_EQ(avcC[8 + n], 1);
    const size_t m = (size_t{avcC[9 + n]} << 8) | avcC[10 + n];
    const Bytes sps(avcC + 8, avcC + 8 + n);
    const Bytes pps(avcC + 11 + n, avcC + 11 + n + m);

    for (const char* name : {"header.mov", "header.mp4", "header.m2ts", "header.mkv"}) {
        CTMuxer muxer;
        kx::MediaStreamPair pair;
        pair.video = const_cast<kx::StreamMediaInfo*>(video);
        const std::u16string wide = WideName(muxtest::OutputPath(name));
        ASSERT_EQ(muxer.OpenMuxer(wide.c_str(), &pair), 0) << name;
        ASSERT_EQ(muxer.AddStream(0, video), 0) << name;
        const AVCodecParameters* par = muxer.FormatContext()->streams[0]->codecpar;
        const Bytes extradata(par->extradata, par->extradata + par->extradata_size);
        const std::string text(name);
        if (text.ends_with(".mov") || text.ends_with(".mp4")) {
            ASSERT_EQ(extradata.size(), 11 + n + m) << name;
            EXPECT_EQ(extradata[4], 0xFF);
            EXPECT_EQ(extradata[5], 0xE1);
            EXPECT_EQ(Bytes(extradata.begin() + 8, extradata.begin() + 8 + n), sps);
        } else {
            EXPECT_EQ(extradata, Concat({{0, 0, 0, 1}, sps, {0, 0, 0, 1}, pps})) << name;
        }
        muxer.CloseMuxer();
    }
}

// Key frames (flags exactly 1) written to an MPEG program stream carry the
// stream's global header in front; other packets do not.
TEST(MuxPacketTest, ProgramStreamKeyFramesGetTheSequenceHeader) {
    const Bytes marker = {0, 0, 1, 0xB2, 'K', 'X', 'M', 'K'};
    kx::StreamMediaInfo video;
    video.mediaType = kx::MediaType::kVideo;
    video.codecId = 1;  // MPEG-1 video
    video.video.width = 320;
    video.video.height = 240;
    video.video.bitRate = 800000;
    video.video.frameRate[0] = 25;
    video.video.frameRate[1] = 1;
    Bytes extradata = marker;
    video.video.extradata = extradata.data();
    video.video.extradataSize = static_cast<int32_t>(extradata.size());

    const std::string path = muxtest::OutputPath("prefix.mpg");
    {
        CTMuxer muxer;
        OpenWithVideo(muxer, path, video);
        EXPECT_STREQ(muxer.FormatContext()->oformat->name, "mpeg");
        const Bytes picture = Concat({{0, 0, 1, 0x00}, Bytes(200, 0x3C)});
        const int flags[] = {AV_PKT_FLAG_KEY, AV_PKT_FLAG_KEY | AV_PKT_FLAG_CORRUPT, 0, AV_PKT_FLAG_KEY};
        for (int i = 0; i < 4; ++i) {
            PacketPtr packet = MakePacket(picture, i, flags[i]);
            EXPECT_EQ(muxer.WritePacket(0, packet.get()), 0);
        }
        muxer.CloseMuxer();
    }
    const std::string file = kxtest::ReadAll(path);
    EXPECT_EQ(CountOccurrences(Bytes(file.begin(), file.end()), marker), 2u);
}

TEST(MuxPacketTest, NamesAreWrittenInUtf8AndLimitedTo1023Bytes) {
    const std::string unicode = muxtest::OutputPath("Fête_vidéo_ü_copie.mp4");
    const muxtest::CopyResult copy = muxtest::CopyThroughMuxer(kxtest::Fixture("Fête_vidéo_ü.mp4"), unicode);
    EXPECT_EQ(copy.headerResult, 0);
    EXPECT_EQ(copy.writeFailures, 0);
    EXPECT_EQ(muxtest::ProbeStreams(unicode), "h264,video\naac,audio\n");

    const std::string folder = std::filesystem::path(muxtest::OutputPath("x")).parent_path().string();
    const std::string longName = folder + "/" + std::string(1100, 'a') + ".mp4";
    CTMuxer muxer;
    const kx::StreamMediaInfo video = BareH264Video();
    kx::MediaStreamPair pair;
    pair.video = const_cast<kx::StreamMediaInfo*>(&video);
    const std::u16string wide = WideName(longName);
    ASSERT_EQ(muxer.OpenMuxer(wide.c_str(), &pair), 0);
    ASSERT_EQ(muxer.AddStream(0, &video), 0);
    EXPECT_EQ(muxer.WriteHeader(), -1);
    ASSERT_NE(muxer.Failure(), nullptr);
    EXPECT_EQ(muxer.Failure()->systemError, ENAMETOOLONG);
    EXPECT_EQ(muxer.CloseMuxer(), -1);
}

// The file is written under a temporary name and takes its own only when
// finished; the deleter that file records use drops an unfinished file.
TEST(MuxPacketTest, OnlyAFinishedFileTakesItsName) {
    for (const bool finish : {false, true}) {
        muxtest::SourceReader source(kxtest::Fixture("h264_aac.mp4"));
        const int index = source.FirstStreamOf(kx::MediaType::kVideo);
        const kx::StreamMediaInfo* video = source.Info(index);
        const std::string path = muxtest::OutputPath(finish ? "finished.mp4" : "dropped.mp4");
        kx::MuxerPtr muxer(new CTMuxer);
        OpenWithVideo(*muxer, path, *video);
        AVPacket* packet = av_packet_alloc();
        for (int written = 0; written < 30 && source.Read(packet);) {
            if (packet->stream_index == index) {
                EXPECT_EQ(muxer->WritePacket(0, packet), 0);
                ++written;
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_FALSE(kxtest::PartialFileOf(path).empty());
        if (finish) {
            EXPECT_TRUE(muxer->Finish().ok());
        }
        muxer.reset();
        EXPECT_TRUE(kxtest::PartialFileOf(path).empty());
        EXPECT_EQ(std::filesystem::exists(path), finish);
        if (!finish) continue;
        EXPECT_EQ(muxtest::ProbeStreams(path), "h264,video\n");
        EXPECT_EQ(kxtest::DecodeErrors(path), "");
        EXPECT_EQ(kxtest::FrameHashes(path).size(), 30u);
    }
}

}  // namespace
