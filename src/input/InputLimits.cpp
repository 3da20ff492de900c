#include "input/InputLimits.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace kx {

namespace {

constexpr int64_t kPictureFloor = 1920 * 1088;
constexpr int64_t kPictureCeilingMax = 8192 * 4352;
constexpr int64_t kPixelsPerFileByte = 64;

const char* const kLinkingFormats[] = {"hls", "dash", "concat", "image2", "vobsub", "imf", "sdp"};

// Any name of a comma-separated list ("mov,mp4,m4a") equal to one of ours.
bool AnyNameIs(const char* names, const char* wanted) {
    const size_t length = std::strlen(wanted);
    for (const char* p = names; p && *p;) {
        const char* end = std::strchr(p, ',');
        const size_t size = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (size == length && std::strncmp(p, wanted, length) == 0) return true;
        p = end ? end + 1 : nullptr;
    }
    return false;
}

}  // namespace

size_t OpenHeapBudget(int64_t fileBytes) {
    const int64_t extra = fileBytes > 0 ? std::min<int64_t>(fileBytes, int64_t(kOpenHeapMost >> 2)) * 4 : 0;
    return std::min(kOpenHeapBytes + static_cast<size_t>(extra), kOpenHeapMost);
}

int64_t PictureCeiling(int64_t fileBytes) {
    const int64_t byBytes = fileBytes > kPictureCeilingMax / kPixelsPerFileByte ? kPictureCeilingMax
                                                                                : fileBytes * kPixelsPerFileByte;
    return std::clamp(byBytes, kPictureFloor, kPictureCeilingMax);
}

bool ReadsOtherFiles(const AVInputFormat* format) {
    if (!format || !format->name) return false;
    if (format->flags & AVFMT_NOFILE) return true;
    for (const char* name : kLinkingFormats)
        if (AnyNameIs(format->name, name)) return true;
    return false;
}

const std::string& DemuxersThatReadOneFile() {
    static const std::string list = [] {
        std::string names;
        void* iterator = nullptr;
        while (const AVInputFormat* format = av_demuxer_iterate(&iterator)) {
            if (ReadsOtherFiles(format)) continue;
            if (!names.empty()) names += ',';
            names += format->name;
        }
        return names;
    }();
    return list;
}

AVDictionary* OpenOptions(bool allowLinkedFiles) {
    AVDictionary* options = nullptr;
    // Names are plain files; a playlist or a nested open cannot reach the
    // network or another protocol either.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (!allowLinkedFiles) av_dict_set(&options, "format_whitelist", DemuxersThatReadOneFile().c_str(), 0);
    // One more than we accept, so that a file at the limit shows as over it.
    av_dict_set_int(&options, "max_streams", kMaxInputStreams + 1, 0);
    av_dict_set_int(&options, "probesize", kProbeBytes, 0);
    av_dict_set_int(&options, "analyzeduration", kProbeMicroseconds, 0);
    // QuickTime references to media in other files are not followed.
    av_dict_set(&options, "enable_drefs", "0", 0);
    return options;
}

AVDictionary** ProbeDecoderOptions(const AVFormatContext* context, int64_t fileBytes) {
    const unsigned count = context ? context->nb_streams : 0;
    if (count == 0) return nullptr;
    auto** options = static_cast<AVDictionary**>(av_calloc(count, sizeof(AVDictionary*)));
    if (!options) return nullptr;
    const int64_t ceiling = PictureCeiling(fileBytes);
    unsigned videos = 0;
    for (unsigned i = 0; i < count; ++i) {
        const AVCodecParameters* parameters = context->streams[i]->codecpar;
        const bool video = parameters->codec_type == AVMEDIA_TYPE_VIDEO;
        const int64_t declared = int64_t(std::max(parameters->width, 0)) * std::max(parameters->height, 0);
        const bool decoded = !video || (videos++ < kProbeDecodedVideoStreams && declared <= ceiling);
        // A decoder refusing a declared size at its opening would zero it;
        // one that opens and skips every frame leaves the header's numbers
        // alone. (An option that makes the opening fail is used up by it,
        // and the library's second try would then decode.)
        if (decoded)
            av_dict_set_int(&options[i], "max_pixels", ceiling, 0);
        else
            av_dict_set(&options[i], "skip_frame", "all", 0);
        av_dict_set(&options[i], "threads", "1", 0);
    }
    return options;
}

void FreeStreamOptions(AVDictionary** options, unsigned count) {
    if (!options) return;
    for (unsigned i = 0; i < count; ++i) av_dict_free(&options[i]);
    av_free(options);
}

}  // namespace kx
