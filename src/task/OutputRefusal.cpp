#include "task/OutputRefusal.h"

#include <algorithm>

extern "C" {
#include <libavcodec/codec_desc.h>
}

#include "KX_Remuxion.h"
#include "caps/ContainerChoice.h"
#include "caps/LosslessCheck.h"
#include "media/MediaKernel.h"
#include "output/CTMuxer.h"
#include "platform/WideString.h"

namespace kx {

namespace {

// ".mp4" as the output is named; "(no extension)" without one.
std::string ExtensionOfName(const std::u16string& name) {
    const std::string text = WideToUtf8(name);
    const size_t slash = text.find_last_of('/');
    const size_t dot = text.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "(no extension)";
    return text.substr(dot);
}

std::string CodecName(int32_t codecId) {
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(ToLibraryCodecId(codecId));
    return descriptor ? descriptor->name : "codec " + std::to_string(codecId);
}

std::string KindName(RefusedStream kind) {
    switch (kind) {
        case RefusedStream::kAudio: return "audio";
        case RefusedStream::kSubtitle: return "subtitle";
        default: return "video";
    }
}

// "; .mkv and .mov take it" from the table, or nothing when none does.
std::string Alternatives(int32_t codecId) {
    const std::vector<std::string> extensions = ExtensionsTaking(codecId);
    if (extensions.empty()) return {};
    std::string text = "; ";
    const size_t shown = std::min<size_t>(extensions.size(), 4);
    for (size_t i = 0; i < shown; ++i) text += (i == 0 ? "" : i + 1 == shown ? " and " : ", ") + extensions[i];
    return text + (shown == 1 ? " takes it" : " take it");
}

FailureReport Refusal(std::string text) { return {std::move(text), KX_E_FAIL}; }

}  // namespace

FailureReport DescribeOutputRefusal(const CTMuxer& muxer, const std::u16string& outputName,
                                    const std::u16string& source, int64_t streamIndex) {
    const std::string container = ExtensionOfName(outputName);
    const std::string input = WideToUtf8(source);
    const ContainerVerdict& verdict = muxer.Verdict();
    switch (verdict.refusal) {
        case ContainerRefusal::kNone: break;
        case ContainerRefusal::kNoStream:
            return Refusal("cannot write " + WideToUtf8(outputName) + ": no stream is selected for it");
        case ContainerRefusal::kNoTable:
            return Refusal("cannot check which codecs " + container +
                           " files accept: the capability table LossLess_xml.xml is missing or unreadable (it belongs"
                           " beside libKX_Remuxion.so)");
        case ContainerRefusal::kNotListed:
            return Refusal("cannot write " + container +
                           " files: the container is not in the capability table (LossLess_xml.xml lists no codecs"
                           " for it)");
        case ContainerRefusal::kCodecRefused: {
            const std::string codec = CodecName(verdict.codecId);
            const std::string kind = KindName(verdict.refused);
            return Refusal("cannot copy the " + kind + " stream #" + std::to_string(verdict.streamIndex) + " (" +
                           codec + ") of " + input + " into a " + container + " file: " + container +
                           " files do not take " + codec + " without re-encoding" + Alternatives(verdict.codecId));
        }
    }
    if (const OutputFailure* failure = muxer.Failure()) return {failure->Text(), failure->Status()};
    const std::string stream = streamIndex >= 0 ? "stream #" + std::to_string(streamIndex) : "streams";
    return Refusal("cannot write " + WideToUtf8(outputName) + ": the " + stream + " of " + input +
                   " cannot be set up in a " + container + " file");
}

FailureReport NoStreamRefusal(const std::u16string& source) {
    return Refusal("cannot write the outputs of " + WideToUtf8(source) + ": none of its streams is selected");
}

FailureReport UnnamedOutputRefusal() {
    return Refusal("cannot name the outputs: the output folder is not set, or a name would be too long");
}

}  // namespace kx
