#include "input/SourceStream.h"

#include <string_view>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
}

namespace kx {

namespace {

// Tags that count or time the source stream as a whole (the statistics
// Matroska muxers write, "BPS" or "BPS-eng"); a clip or a join would carry
// wrong values.
bool DescribesWholeSource(std::string_view key) {
    if (key.rfind("_STATISTICS_", 0) == 0) return true;
    const std::string_view name = key.substr(0, key.find('-'));
    for (std::string_view whole : {"DURATION", "NUMBER_OF_FRAMES", "NUMBER_OF_BYTES", "BPS"})
        if (name.size() == whole.size() && av_strncasecmp(name.data(), whole.data(), name.size()) == 0) return true;
    return false;
}

}  // namespace

SourceStream::~SourceStream() {
    avcodec_parameters_free(&parameters);
    av_dict_free(&tags);
}

std::shared_ptr<const SourceStream> CopySourceStream(const AVStream* stream) {
    if (!stream || !stream->codecpar) return nullptr;
    auto copy = std::make_shared<SourceStream>();
    copy->parameters = avcodec_parameters_alloc();
    if (!copy->parameters || avcodec_parameters_copy(copy->parameters, stream->codecpar) < 0) return nullptr;
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(stream->metadata, "", tag, AV_DICT_IGNORE_SUFFIX))) {
        if (DescribesWholeSource(tag->key)) continue;
        if (av_dict_set(&copy->tags, tag->key, tag->value, 0) < 0) return nullptr;
    }
    copy->disposition = stream->disposition;
    for (int i = 0; i < stream->nb_side_data; ++i) {
        const AVPacketSideData& side = stream->side_data[i];
        copy->sideData.push_back({side.type, std::vector<uint8_t>(side.data, side.data + side.size)});
    }
    copy->timeBase = stream->time_base;
    copy->averageFrameRate = stream->avg_frame_rate;
    copy->realFrameRate = stream->r_frame_rate;
    copy->sampleAspectRatio = stream->sample_aspect_ratio;
    return copy;
}

}  // namespace kx
