#include "input/StreamSummary.h"

#include <cstring>

extern "C" {
#include <libavcodec/codec_desc.h>
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"
#include "media/MediaKernel.h"

namespace kx {

namespace {

std::string Tag(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(tags, key, nullptr, 0);
    return entry && entry->value ? entry->value : "";
}

MediaType KindOf(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO: return MediaType::kVideo;
        case AVMEDIA_TYPE_AUDIO: return MediaType::kAudio;
        case AVMEDIA_TYPE_SUBTITLE: return MediaType::kSubtitle;
        default: return MediaType::kNone;
    }
}

// Tags a muxer writes of its own, which would describe the source container.
bool DescribesSourceContainer(const char* key) {
    for (const char* own : {"major_brand", "minor_version", "compatible_brands", "encoder", "ENCODER"})
        if (std::strcmp(key, own) == 0) return true;
    return false;
}

}  // namespace

FileSummary SummarizeFile(const AVFormatContext* context) {
    FileSummary summary;
    if (!context) return summary;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        StreamSummary entry;
        entry.streamIndex = static_cast<int32_t>(i);
        entry.mediaType = KindOf(stream->codecpar->codec_type);
        entry.codecId = FromLibraryCodecId(stream->codecpar->codec_id);
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream->codecpar->codec_id);
        entry.codecName = descriptor ? descriptor->name : "";
        entry.language = Tag(stream->metadata, "language");
        entry.title = Tag(stream->metadata, "title");
        entry.disposition = stream->disposition;
        summary.streams.push_back(std::move(entry));
    }
    summary.title = Tag(context->metadata, "title");
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(context->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
        if (!DescribesSourceContainer(tag->key)) summary.tags.emplace_back(tag->key, tag->value);
    for (unsigned i = 0; i < context->nb_chapters; ++i) {
        const AVChapter* chapter = context->chapters[i];
        summary.chapters.push_back({StreamTimeToTicks(chapter->start, chapter->time_base),
                                    StreamTimeToTicks(chapter->end, chapter->time_base),
                                    Tag(chapter->metadata, "title")});
    }
    return summary;
}

}  // namespace kx
