#include "Input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Codecs.h"
#include "Console.h"

namespace kxcli {

bool InputFile::HasSelected(MediaKind kind) const {
    for (const auto& choice : selected)
        if (choice.kind == kind) return true;
    return false;
}

std::string InputFile::Name() const { return path; }

void CheckReadable(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0) {
            if (errno == ENOENT) Fail("no such file: " + path);
            Fail("cannot read " + path + ": " + std::strerror(errno));
        }
        if (S_ISDIR(status.st_mode)) Fail(path + " is a folder, not a media file");
        if (access(path.c_str(), R_OK) != 0) Fail("cannot read " + path + ": " + std::strerror(errno));
    }
}

void SpareRateCount(IStreamwright* converter) {
    if (Component().setInputOptions(converter, KX_INPUT_STORED_RATES_ONLY) != KX_S_OK)
        Fail("the component refused its input options");
}

InputFile AddInput(IStreamwright* converter, const std::string& path) {
    CheckReadable({path});

    InputFile input;
    input.path = path;
    input.id = converter->AddFile(Bstr(path));
    if (input.id < 0) {
        // The component says why: no such file, a playlist, a bound it hit.
        const std::string reason = TakeBstr(Component().getLastErrorText(converter));
        Fail(reason.empty() ? "cannot open " + path + ": not a media file that can be read" : reason);
    }
    auto desc = DescribeFile(converter, input.id);
    if (!desc) Fail("cannot read the streams of " + path + ": the file holds no usable media information");
    input.desc = std::move(*desc);
    if (input.desc.Streams().empty()) Fail(path + " has no video or audio stream");
    return input;
}

std::vector<StreamChoice> DefaultStreams(const FileDesc& desc) {
    std::vector<StreamChoice> choices;
    if (const StreamDesc* video = desc.FirstOf(MediaKind::kVideo)) choices.push_back({video->index, MediaKind::kVideo});
    if (const StreamDesc* audio = desc.FirstOf(MediaKind::kAudio)) choices.push_back({audio->index, MediaKind::kAudio});
    return choices;
}

StreamChoice ChooseStream(const InputFile& input, int32_t index) {
    const StreamDesc* stream = input.desc.FindStream(index);
    if (!stream) {
        std::string known;
        for (const StreamDesc* s : input.desc.Streams()) known += (known.empty() ? "" : ", ") + std::to_string(s->index);
        Fail(input.path + " has no video or audio stream " + std::to_string(index) + " (its streams: " + known + ")");
    }
    return {stream->index, stream->kind};
}

void SelectStreams(IStreamwright* converter, InputFile& input, const std::vector<StreamChoice>& choices) {
    for (const auto& choice : choices) {
        if (converter->OpenStream(input.id, choice.index, static_cast<int32_t>(choice.kind)) != KX_S_OK)
            Fail("cannot read stream " + std::to_string(choice.index) + " of " + input.path);
        input.selected.push_back(choice);
    }
}

void StartReading(IStreamwright* converter) { converter->StartDemuxers(); }

std::string DescribeSelection(const InputFile& input) {
    std::string text;
    for (const auto& choice : input.selected) {
        const StreamDesc* stream = input.desc.FindStream(choice.index);
        if (!text.empty()) text += " + ";
        text += std::string(KindName(choice.kind)) + " #" + std::to_string(choice.index);
        if (stream) {
            text += " (" + CodecName(*stream) + ")";
        } else if (const TrackDesc* track = input.desc.FindTrack(choice.index)) {
            text += " (" + track->codecName + ")";
        }
    }
    return text;
}

}  // namespace kxcli
