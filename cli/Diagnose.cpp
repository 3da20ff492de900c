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

bool HasVideo(const OutputPlan& plan) {
    for (const auto& planned : plan.streams)
        if (planned.stream.kind == MediaKind::kVideo) return true;
    return false;
}

// "the audio stream #1 (mp2) of in.mpg"
std::string Describe(const PlannedStream& planned) {
    const StreamDesc& s = planned.stream;
    return std::string("the ") + (s.kind == MediaKind::kVideo ? "video" : "audio") + " stream #" +
           std::to_string(s.index) + " (" + CodecName(s) + ") of " + planned.source;
}

// The stream that a CheckFormat failure names: the capability name that the
// component looked up, matched against the streams being written (video is
// checked first, so the first stream that matches is the one).
const PlannedStream* RefusedStream(const OutputPlan& plan, const std::string& capabilityName) {
    for (const auto& planned : plan.streams) {
        std::string name = CapabilityName(planned.stream.codecId);
        if ((name.empty() && (capabilityName.empty() || capabilityName == "NONE")) || name == capabilityName)
            return &planned;
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
            const PlannedStream* refused = RefusedStream(plan, codec);
            std::string what = refused ? Describe(*refused) : "the codec " + codec;
            std::string name = refused ? CodecName(refused->stream) : codec;
            return "cannot copy " + what + " into a " + container + " file: " + container + " files do not take " +
                   name + " without re-encoding";
        }
        if (Contains(line, "CHECKMuxerValid failed")) validityFailed = true;
        if (Contains(line, "OpenMuxer Failed")) openFailed = true;
        if (Contains(line, "ADD STREAM FAILED") && addStreamLine.empty()) addStreamLine = line;
    }
    if (validityFailed) {
        if (!HasVideo(plan))
            return "cannot write " + Join(plan.sources) + ": outputs need a video stream and none is selected";
        return "cannot check which codecs " + container + " files accept: the capability table LossLess_xml.xml"
               " is missing or unreadable (it belongs beside libKX_Remuxion.so)";
    }
    std::string detail = FirstNonEmptyLine(libraryStderr);
    // The same message without a stream number is the header's.
    if (!addStreamLine.empty() && !Contains(addStreamLine, "streamid"))
        return "cannot write the " + container + " output: the file cannot be created or the container refuses"
               " the streams' parameters" + (detail.empty() ? "" : ": " + detail);
    if (!addStreamLine.empty())
        return "cannot set up the streams of the " + container + " output" + (detail.empty() ? "" : ": " + detail);
    if (openFailed)
        return "cannot create " + container + " outputs: the container is unknown or the output folder is not writable";
    return "preparing the outputs failed" + (detail.empty() ? std::string() : ": " + detail);
}

}  // namespace kxcli
