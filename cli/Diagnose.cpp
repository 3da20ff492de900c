#include "Diagnose.h"

#include <cstdlib>

#include "Codecs.h"

namespace kxcli {

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// "CXml_Lossless_CheckFormat failed codecnum[3] fcc[MP2]" -> 3, "MP2"
bool ParseCheckFormatLine(const std::string& line, int* listed, std::string* codec) {
    size_t number = line.find("codecnum[");
    size_t name = line.find("fcc[");
    if (!Contains(line, "CheckFormat failed") || number == std::string::npos || name == std::string::npos) return false;
    *listed = std::atoi(line.c_str() + number + 9);
    size_t end = line.find(']', name);
    *codec = line.substr(name + 4, end == std::string::npos ? std::string::npos : end - name - 4);
    return true;
}

const StreamDesc* FirstVideo(const OutputPlan& plan) {
    for (const auto& s : plan.streams)
        if (s.kind == MediaKind::kVideo) return &s;
    return nullptr;
}

std::string Describe(const StreamDesc& stream) {
    return std::string(stream.kind == MediaKind::kVideo ? "video" : "audio") + " codec " + CodecName(stream);
}

// The stream that a CheckFormat failure names: the capability name that the
// component looked up, matched against the streams being written (video is
// checked first, so the first stream that matches is the one).
const StreamDesc* RefusedStream(const OutputPlan& plan, const std::string& capabilityName) {
    for (const auto& s : plan.streams) {
        std::string name = CapabilityName(s.codecId);
        if ((name.empty() && (capabilityName.empty() || capabilityName == "NONE")) || name == capabilityName) return &s;
    }
    return nullptr;
}

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string FirstNonEmptyLine(const std::string& text) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        std::string line = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (!line.empty()) return line;
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return {};
}

}  // namespace

std::string ExplainPrepareFailure(const std::vector<std::string>& logLines, const std::string& libraryStderr,
                                  const OutputPlan& plan) {
    const std::string container = plan.extension.empty() ? "(no extension)" : plan.extension;
    bool validityFailed = false;
    bool openFailed = false;
    std::string addStreamLine;
    for (const auto& line : logLines) {
        int listed = 0;
        std::string codec;
        if (ParseCheckFormatLine(line, &listed, &codec)) {
            if (listed == 0)
                return "cannot write " + container + " files: the container is not in the capability table"
                       " (LossLess_xml.xml lists no codecs for it)";
            const StreamDesc* stream = RefusedStream(plan, codec);
            std::string what = stream ? Describe(*stream) : "codec " + codec;
            if (stream && !IsCopyable(stream->codecId))
                return "cannot copy " + what + " from " + Join(plan.sourceNames) +
                       ": the codec cannot be copied without re-encoding";
            return "cannot copy " + what + " into a " + container + " file: the container does not accept this codec"
                   " without re-encoding (try another extension with --ext or -o)";
        }
        if (Contains(line, "CHECKMuxerValid failed")) validityFailed = true;
        if (Contains(line, "OpenMuxer Failed")) openFailed = true;
        if (Contains(line, "ADD STREAM FAILED") && addStreamLine.empty()) addStreamLine = line;
    }
    if (validityFailed) {
        if (!FirstVideo(plan))
            return "cannot write " + Join(plan.sourceNames) + ": outputs need a video stream and none is selected";
        return "cannot check which codecs " + container + " files accept: the capability table LossLess_xml.xml"
               " is missing or unreadable (it belongs beside libKX_Remuxion.so)";
    }
    std::string detail = FirstNonEmptyLine(libraryStderr);
    if (!addStreamLine.empty())
        return "cannot set up the streams of the " + container + " output" + (detail.empty() ? "" : ": " + detail);
    if (openFailed)
        return "cannot create " + container + " outputs: the container is unknown or the output folder is not writable";
    return "preparing the outputs failed" + (detail.empty() ? std::string() : ": " + detail);
}

}  // namespace kxcli
