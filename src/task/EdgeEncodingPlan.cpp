#include "task/EdgeEncodingPlan.h"

#include "input/SourceStream.h"
#include "output/H264ParameterSetIds.h"
#include "output/HevcParameterSetIds.h"
#include "platform/KX_Log.h"
#include "task/FileReaders.h"
#include "task/StreamDescriptions.h"

namespace kx {

namespace {
bool Valid(AVRational rate) { return rate.num > 0 && rate.den > 0; }
}  // namespace

std::optional<int> SoleVideoStream(const FileRecord& file) {
    std::optional<int> video;
    for (const auto& stream : file.selectedStreams) {
        if (stream.kind != StreamKind::kVideo) continue;
        if (video) return std::nullopt;
        video = static_cast<int>(stream.streamIndex);
    }
    return video;
}

std::optional<EdgeEncoding> PlanEdgeEncoding(const FileRecord& file) {
    const std::optional<int> video = SoleVideoStream(file);
    if (!video) return std::nullopt;
    const DescriptionPtr description = DescribeStream(AnalyzeOf(file), *video);
    if (!description || !description->source) return std::nullopt;
    const SourceStream& source = *description->source;
    const AVCodecParameters* parameters = source.parameters;
    if (WhyNotReencodable(parameters)) return std::nullopt;
    const size_t extradataSize = static_cast<size_t>(std::max(0, parameters->extradata_size));
    EdgeEncoding encoding;
    if (parameters->codec_id == AV_CODEC_ID_HEVC) {
        HevcParameterSetIds ids;
        CollectHevcExtradataIds(parameters->extradata, extradataSize, &ids);
        const std::optional<HevcSetIds> free = FreeHevcSetIds(ids);
        if (!free) return std::nullopt;
        encoding.hevcIds = *free;
        encoding.hevcIds.reordering = HevcReorderingOfExtradata(parameters->extradata, extradataSize);
    } else {
        ParameterSetIds ids;
        CollectExtradataParameterSetIds(parameters->extradata, extradataSize, &ids);
        const std::optional<int> id = FreeParameterSetId(ids);
        if (!id) return std::nullopt;
        encoding.parameterSetId = *id;
    }
    const AVRational rate = Valid(source.averageFrameRate) ? source.averageFrameRate
                            : Valid(source.realFrameRate)  ? source.realFrameRate
                                                           : AVRational{25, 1};
    encoding.frameRateNum = rate.num;
    encoding.frameRateDen = rate.den;
    std::string problem;
    encoding.parameterSets = EncoderParameterSets(SettingsOf(encoding, parameters), &problem);
    if (encoding.parameterSets.empty())
        LogFormat(u"No parameter sets planned for encoded pictures: %S\n", problem.c_str());
    return encoding;
}

EncoderSettings SettingsOf(const EdgeEncoding& encoding, const AVCodecParameters* source) {
    return EncoderSettings{source,           encoding.frameRateNum, encoding.frameRateDen, encoding.parameterSetId,
                           encoding.hevcIds, encoding.parameterSets};
}

}  // namespace kx
