// Helpers for the demux tests: what ffprobe/ffmpeg say about a fixture, and
// reading everything a demux control delivers.
#pragma once

#include <cstdint>
#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/mathematics.h>
}

#include "TestSupport.h"
#include "input/CTSingleTDemuxer.h"
#include "input/DemuxTypes.h"

namespace demuxtest {

struct Packet {
    int stream = -1;
    int64_t pts = 0;  // ticks, or kx::kNoPts
    int64_t dts = 0;
    bool key = false;
    int size = 0;
};

inline std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) parts.push_back(part);
    return parts;
}

inline std::string Quote(const std::string& path) { return "'" + path + "'"; }

// key=value pairs of one stream (ffprobe -show_streams).
inline std::map<std::string, std::string> ProbeStream(const std::string& file, int stream) {
    std::map<std::string, std::string> values;
    std::string out = kxtest::RunCommand("ffprobe -v error -select_streams " + std::to_string(stream) +
                                         " -show_streams -of default=nw=1 " + Quote(file));
    for (const auto& line : Split(out, '\n')) {
        auto eq = line.find('=');
        if (eq != std::string::npos) values.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return values;
}

inline AVRational ProbeTimeBase(const std::string& file, int stream) {
    auto parts = Split(ProbeStream(file, stream)["time_base"], '/');
    if (parts.size() != 2) return AVRational{0, 1};
    return AVRational{std::stoi(parts[0]), std::stoi(parts[1])};
}

inline int64_t ToTicks(const std::string& value, AVRational tb) {
    if (value.empty() || value == "N/A") return kx::kNoPts;
    return av_rescale(std::stoll(value), int64_t(tb.num) * 10'000'000, tb.den);
}

// The packets of one stream as ffprobe lists them, times in ticks. Where the
// container gives no pts, the readers take the decoding time of pictures
// that are not reordered and let the library guess the others.
inline std::vector<Packet> ProbePackets(const std::string& file, int stream) {
    auto values = ProbeStream(file, stream);
    AVRational tb = ProbeTimeBase(file, stream);
    const bool reordered = values["codec_type"] == "video" && values["has_b_frames"] != "0";
    std::string out = kxtest::RunCommand("ffprobe -v error " + std::string(reordered ? "-fflags +genpts " : "") +
                                         "-select_streams " + std::to_string(stream) +
                                         " -show_entries packet=pts,dts,size,flags -of csv " + Quote(file));
    std::vector<Packet> packets;
    for (const auto& line : Split(out, '\n')) {
        auto f = Split(line, ',');
        if (f.size() < 5 || f[0] != "packet") continue;
        Packet p;
        p.stream = stream;
        p.pts = ToTicks(f[1], tb);
        p.dts = ToTicks(f[2], tb);
        if (p.pts == kx::kNoPts) p.pts = p.dts;
        p.size = std::stoi(f[3]);
        p.key = !f[4].empty() && f[4][0] == 'K';
        packets.push_back(p);
    }
    return packets;
}

// The clock the readers keep for a selection of streams: 0 is the earliest
// start among them (ticks on ffprobe's scale); 0 for an empty selection.
inline int64_t ClockZero(const std::string& file, const std::vector<int>& streams) {
    bool any = false;
    int64_t zero = 0;
    for (int s : streams) {
        auto values = ProbeStream(file, s);
        int64_t start = ToTicks(values["start_pts"], ProbeTimeBase(file, s));
        if (start == kx::kNoPts) continue;
        zero = any ? std::min(zero, start) : start;
        any = true;
    }
    return zero;
}

// ffprobe's packets of one stream on the readers' clock.
inline std::vector<Packet> ProbePacketsOnClock(const std::string& file, int stream, int64_t zero) {
    auto packets = ProbePackets(file, stream);
    for (auto& p : packets) {
        if (p.pts != kx::kNoPts) p.pts -= zero;
        if (p.dts != kx::kNoPts) p.dts -= zero;
    }
    return packets;
}

// Reads until the control reports nothing more, handing out every sample.
// A single-file reader is told to release each sample after GetPacket; the
// multi-reader advances by ReadNext alone (release = false).
inline std::vector<Packet> ReadAll(kx::ITDemuxerControl* control, size_t limit = 100000, bool release = true) {
    std::vector<Packet> packets;
    AVPacket* packet = av_packet_alloc();
    while (packets.size() < limit && control->ReadNext() == 1) {
        kx::SampleInfo info;
        if (!control->GetSampleInfo(&info)) break;
        if (control->GetPacket(packet) != 1) break;
        Packet p;
        p.stream = packet->stream_index;
        p.pts = packet->pts;
        p.dts = packet->dts;
        p.key = packet->flags & AV_PKT_FLAG_KEY;
        p.size = packet->size;
        packets.push_back(p);
        // The info must describe the packet handed out.
        EXPECT_EQ(info.streamIndex, p.stream);
        EXPECT_EQ(info.pts, p.pts);
        EXPECT_EQ(info.flags, packet->flags);
        if (release) control->SetSampleReady(0);
    }
    av_packet_free(&packet);
    return packets;
}

// A started single-file reader of the given streams.
inline std::unique_ptr<kx::CTSingleTDemuxer> OpenSingle(const std::string& file, std::vector<int> streams,
                                                         int decodeMode = 0) {
    auto reader = std::make_unique<kx::CTSingleTDemuxer>();
    reader->Initialize();
    if (reader->Open(kxtest::Wide(file).c_str(), decodeMode) != 0) return nullptr;
    for (int s : streams)
        if (reader->AddStream(s) != 0) return nullptr;
    reader->StartDemuxer();
    return reader;
}

}  // namespace demuxtest
