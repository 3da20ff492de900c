#include "input/PacketTally.h"

#include <algorithm>
#include <limits>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/PacketTimeFill.h"

namespace kx {

namespace {

struct Span {
    int64_t first = std::numeric_limits<int64_t>::max();
    int64_t last = std::numeric_limits<int64_t>::min();
    int64_t end = std::numeric_limits<int64_t>::min();
};

// The same stream in both opens: demuxers number streams in file order, so
// the index matches; kind and container id make sure.
bool SameStream(const AVStream* a, const AVStream* b) {
    return a->codecpar->codec_type == b->codecpar->codec_type && a->id == b->id;
}

}  // namespace

std::vector<StreamTally> TallyPackets(const InputSource& source, const AVFormatContext* described,
                                      const std::vector<bool>& wanted) {
    const unsigned count = described ? described->nb_streams : 0;
    std::vector<StreamTally> tallies(count);
    if (count == 0 || wanted.size() != count) return tallies;

    bool video = false;
    for (unsigned i = 0; i < count; ++i)
        video = video || (wanted[i] && described->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO);
    // Key frames must come out as a stream reader's scan finds them, so a
    // pass that notes them opens the file as a reader does; a count alone
    // needs only the header and the times as stored.
    AVFormatContext* format = video ? OpenInput(source, ProbeDepth::kStreamInfo).context
                                    : OpenInput(source, ProbeDepth::kHeader, MissingPts::kLeave).context;
    if (!format) return tallies;
    if (video) GenerateMissingPtsAsReaders(format);
    // Streams known from the header skip the unwanted ones' packets; streams
    // that appear while reading (transport streams, FLV) are sorted out below.
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (i >= count || !wanted[i]) format->streams[i]->discard = AVDISCARD_ALL;

    std::vector<Span> spans(count);
    std::vector<std::unique_ptr<KeyFrameCollector>> collectors(count);
    for (unsigned i = 0; video && i < count && i < format->nb_streams; ++i)
        if (wanted[i] && format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            collectors[i] = std::make_unique<KeyFrameCollector>(format->streams[i]);
    // The scan fills the times a program stream leaves out; so does this pass.
    std::unique_ptr<PacketTimeFill> timeFill = video ? std::make_unique<PacketTimeFill>(format) : nullptr;
    AVPacket* packet = av_packet_alloc();
    while (packet && (timeFill ? timeFill->Read(packet) : av_read_frame(format, packet)) >= 0) {
        const auto index = static_cast<unsigned>(packet->stream_index);
        if (index < count && wanted[index] && SameStream(format->streams[index], described->streams[index])) {
            StreamTally& tally = tallies[index];
            if (collectors[index] && collectors[index]->Take(packet))
                tally.keyFrames.push_back(collectors[index]->Last());
            tally.counted = true;
            tally.bytes += packet->size;
            ++tally.packets;
            const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (time != AV_NOPTS_VALUE) {
                spans[index].first = std::min(spans[index].first, time);
                spans[index].last = std::max(spans[index].last, time);
                spans[index].end = std::max(spans[index].end, time + std::max<int64_t>(packet->duration, 0));
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    timeFill.reset();

    for (unsigned i = 0; i < count; ++i) {
        if (!tallies[i].counted || spans[i].end <= spans[i].first || i >= format->nb_streams) continue;
        const double unit = av_q2d(format->streams[i]->time_base);
        tallies[i].seconds = static_cast<double>(spans[i].end - spans[i].first) * unit;
        tallies[i].intervalSeconds = static_cast<double>(spans[i].last - spans[i].first) * unit;
    }
    CloseInput(&format);
    return tallies;
}

}  // namespace kx
