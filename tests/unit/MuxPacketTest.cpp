// CTMuxer's packet path on hand-made packets: what each container receives
// is read back with the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "output/CTMuxer.h"
#include "platform/LegacyLogLines.h"
#include "TaskTestSupport.h"

namespace {

using kxtest::Bytes;
using kxtest::Concat;

Bytes BigEndian32(size_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

// The extradata of the first stream of a file: the fixture's avcC.
Bytes Extradata(const std::string& path) {
    const kxtest::MediaInput input = kxtest::OpenMediaInput(path);
    if (!input) return {};
    const AVCodecParameters* par = input->streams[0]->codecpar;
    return Bytes(par->extradata, par->extradata + par->extradata_size);
}

// Writes a 25 fps video stream of `codecId` with the global header `extradata`
// (none when empty) and one packet per payload, flags from `flags`.
void WriteVideo(const std::string& path, int32_t codecId, const Bytes& extradata, const std::vector<Bytes>& payloads,
                const std::vector<int>& flags) {
    kx::StreamMediaInfo video;
    video.mediaType = kx::MediaType::kVideo;
    video.codecId = codecId;
    video.video.width = 320;
    video.video.height = 240;
    video.video.bitRate = 800000;
    video.video.frameRate[0] = 25;
    video.video.frameRate[1] = 1;
    video.video.extradata = extradata.empty() ? nullptr : const_cast<uint8_t*>(extradata.data());
    video.video.extradataSize = static_cast<int32_t>(extradata.size());
    kx::MediaStreamPair pair;
    pair.video = &video;
    CTMuxer muxer;
    const std::u16string name = kxtest::Wide(path);
    ASSERT_EQ(muxer.OpenMuxer(name.c_str(), &pair), 0);
    ASSERT_EQ(muxer.AddStream(0, &video), 0);
    ASSERT_EQ(muxer.WriteHeader(), 0);
    AVPacket* packet = av_packet_alloc();
    for (size_t i = 0; i < payloads.size(); ++i) {
        av_new_packet(packet, static_cast<int>(payloads[i].size()));
        std::memcpy(packet->data, payloads[i].data(), payloads[i].size());
        packet->pts = packet->dts = static_cast<int64_t>(i) * 400000;
        packet->duration = 400000;
        packet->flags = flags[i % flags.size()];
        EXPECT_EQ(muxer.WritePacket(0, packet), 0);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    EXPECT_EQ(muxer.CloseMuxer(), 0);
}

// Payloads of the packets as the container holds them (no parser joins or
// splits them); `format` names the input format where a tiny file would not
// be recognised.
std::vector<Bytes> ReadPayloads(const std::string& path, const char* format) {
    std::vector<Bytes> payloads;
    AVFormatContext* context = avformat_alloc_context();
    context->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    if (avformat_open_input(&context, path.c_str(), format ? av_find_input_format(format) : nullptr, nullptr) < 0)
        return payloads;
    kxtest::ForEachPacket(context, [&](AVPacket* p) { payloads.emplace_back(p->data, p->data + p->size); });
    avformat_close_input(&context);
    return payloads;
}

}  // namespace

// Hand-made packets read back as the container stores them: MP4 and Matroska
// take length prefixes, the others start codes behind the transport stream's
// access unit delimiter. Matroska's record is the one its writer built when
// it was given start codes (the fixture's, High profile fields and all). A
// unit of 256 to 511 bytes has a prefix that begins 00 00 01: still a length
// prefix. A zero length drops the packet without an error.
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
        {"start_code.mkv", {Concat({code, {0x65}, Bytes(95, 0xAB)})}, {Concat({{0, 0, 0, 0x60, 0x65}, Bytes(95, 0xAB)})},
         false},
        {"three_byte.mkv", {threeByte},
         {Concat({BigEndian32(31), {0x65}, Bytes(30, 0x44), BigEndian32(11), {0x41}, Bytes(10, 0x55)})}, true},
        {"long_unit.mkv", {longUnit}, {longUnit}, false},
        {"long_unit.ts", {longUnit}, {Concat({aud, code, unit})}, false},
    };
    const Bytes avcC = Extradata(kxtest::Fixture("h264_aac.mp4"));
    ASSERT_FALSE(avcC.empty());
    const std::string folder = kxtest::TempFolder("mux_payloads");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kxtest::LogCapture log;
        const std::string path = folder + "/" + c.name;
        const bool mkv = std::string(c.name).ends_with(".mkv");
        const bool prefixed = mkv || std::string(c.name).ends_with(".mp4");
        WriteVideo(path, 28, prefixed ? avcC : Bytes{}, c.packets, {prefixed ? AV_PKT_FLAG_KEY : 0});
        EXPECT_EQ(log.Contains(kx::legacy::kThreeByteStartCode), c.logged);
        EXPECT_EQ(ReadPayloads(path, prefixed ? nullptr : "mpegts"), c.stored);
        if (mkv) {
            EXPECT_EQ(Extradata(path), Extradata(kxtest::Fixture("h264_aac.mkv")));
        }
    }
}

// Key frames (flags exactly 1) written to an MPEG program stream carry the
// stream's global header in front; other packets do not.
TEST(MuxPacketTest, ProgramStreamKeyFramesGetTheSequenceHeader) {
    const Bytes marker = {0, 0, 1, 0xB2, 'K', 'X', 'M', 'K'};
    const std::string path = kxtest::TempFolder("mux_sequence_header") + "/prefix.mpg";
    const Bytes picture = Concat({{0, 0, 1, 0x00}, Bytes(200, 0x3C)});
    WriteVideo(path, 1, marker, std::vector<Bytes>(4, picture),
               {AV_PKT_FLAG_KEY, AV_PKT_FLAG_KEY | AV_PKT_FLAG_CORRUPT, 0, AV_PKT_FLAG_KEY});
    const std::string text = kxtest::ReadAll(path);
    const Bytes file(text.begin(), text.end());
    size_t count = 0;
    for (auto at = file.begin(); (at = std::search(at, file.end(), marker.begin(), marker.end())) != file.end(); ++at)
        ++count;
    EXPECT_EQ(count, 2u);
}
