// remuxion info FILE... [--json]
#include <cstdio>
#include <numeric>

#include "Args.h"
#include "Codecs.h"
#include "Commands.h"
#include "Console.h"
#include "Input.h"
#include "Json.h"
#include "MergeCheck.h"
#include "StreamChoice.h"
#include "TimeText.h"

namespace kxcli {

namespace {

std::string Aspect(const StreamDesc& s) {
    if (s.aspectNumerator == 0 || s.aspectDenominator == 0) return {};
    uint32_t divisor = std::gcd(s.aspectNumerator, s.aspectDenominator);
    return std::to_string(s.aspectNumerator / divisor) + ":" + std::to_string(s.aspectDenominator / divisor);
}

std::string ProfileName(const StreamDesc& s) {
    if (s.codecId == 28) {
        switch (s.profile) {
            case 66: return "Baseline";
            case 77: return "Main";
            case 88: return "Extended";
            case 100: return "High";
            case 110: return "High 10";
            case 122: return "High 4:2:2";
            case 244: return "High 4:4:4";
            default: break;
        }
    }
    return std::to_string(s.profile);
}

std::string Rate(double fps) {
    char text[32];
    snprintf(text, sizeof text, "%.4g fps", fps);
    return text;
}

std::string StreamLine(const StreamDesc& s) {
    std::vector<std::string> parts;
    parts.push_back(CodecName(s));
    if (s.kind == MediaKind::kVideo) {
        parts.push_back(std::to_string(s.width) + "x" + std::to_string(s.height));
        parts.push_back(s.VariableFrameRate() ? "variable frame rate" : Rate(s.frameRate));
        if (!Aspect(s).empty()) parts.push_back("aspect " + Aspect(s));
        if (s.codecId == 28) parts.push_back(ProfileName(s) + " profile, level " + std::to_string(s.level));
    } else {
        parts.push_back(std::to_string(s.sampleRate) + " Hz");
        parts.push_back(s.channels == 1 ? "mono" : s.channels == 2 ? "stereo" : std::to_string(s.channels) + " channels");
    }
    if (s.bitRate > 0) parts.push_back(FormatBitRate(s.bitRate));
    parts.push_back(FormatClock(static_cast<int64_t>(s.duration * kTicksPerSecond)));
    std::string line = "stream #" + std::to_string(s.index) + "  " + KindName(s.kind);
    for (const auto& part : parts) line += "  " + part;
    return line;
}

// What every stream shows whatever its kind: its tags, and where it can go.
std::string TrackSuffix(const TrackDesc* track) {
    if (!track) return {};
    std::string text;
    if (const std::string tags = DescribeTags(*track); !tags.empty()) text += "  " + tags;
    const std::vector<std::string> containers = ContainersHolding(track->codecId);
    if (containers.empty()) return text + "  cannot be copied";
    text += "  copies into";
    for (const auto& container : containers) text += " " + container;
    return text;
}

std::string SubtitleLine(const TrackDesc& track) {
    return "stream #" + std::to_string(track.index) + "  subtitle  " + track.codecName + TrackSuffix(&track);
}

void PrintText(const std::vector<InputFile>& inputs, const MergeVerdict* merge) {
    FILE* out = Out();
    for (const auto& input : inputs) {
        const FileDesc& d = input.desc;
        fprintf(out, "%s\n", input.path.c_str());
        fprintf(out, "  duration %s", FormatClock(d.DurationTicks()).c_str());
        if (d.bitRate > 0) fprintf(out, ", %s", FormatBitRate(d.bitRate).c_str());
        fprintf(out, "\n");
        bool programs = d.HasRealPrograms();
        for (const auto& program : d.programs) {
            std::string indent = "  ";
            if (programs) {
                fprintf(out, "  %s\n", program.outsidePrograms ? "outside any program:"
                                                               : ("program " + std::to_string(program.number) + ":").c_str());
                indent = "    ";
            }
            for (const auto* list : {&program.video, &program.audio})
                for (const auto& s : *list)
                    fprintf(out, "%s%s%s\n", indent.c_str(), StreamLine(s).c_str(),
                            TrackSuffix(d.FindTrack(s.index)).c_str());
        }
        // Subtitles belong to no program entry in the description.
        for (const auto& track : d.tracks)
            if (track.kind == MediaKind::kSubtitle) fprintf(out, "  %s\n", SubtitleLine(track).c_str());
    }
    if (merge) {
        if (merge->possible)
            fprintf(out, "merge: the files can be merged without re-encoding\n");
        else
            fprintf(out, "merge: the files cannot be merged without re-encoding: %s\n", merge->reason.c_str());
    }
}

void WriteTrackFields(JsonWriter& json, const TrackDesc* track) {
    if (!track) return;
    json.Field("language", track->language).Field("title", track->title);
    json.Key("disposition").BeginArray();
    for (const auto& name : DispositionNames(track->disposition)) json.String(name);
    json.EndArray();
    json.Key("containers").BeginArray();
    for (const auto& container : ContainersHolding(track->codecId)) json.String(container);
    json.EndArray();
}

void WriteStream(JsonWriter& json, const StreamDesc& s, const TrackDesc* track) {
    json.BeginObject()
        .Field("index", s.index)
        .Field("type", KindName(s.kind))
        .Field("codecId", s.codecId)
        .Field("codec", CodecName(s))
        .Field("copyable", IsCopyable(s.codecId));
    WriteTrackFields(json, track);
    json.Field("duration", s.duration)
        .Field("bitRate", s.bitRate);
    if (s.kind == MediaKind::kVideo) {
        json.Field("width", s.width).Field("height", s.height).Field("frameRate", s.frameRate);
        json.Field("frameRateMode", s.VariableFrameRate() ? "variable" : "constant");
        json.Field("aspect", Aspect(s)).Field("profile", s.profile).Field("level", s.level);
    } else {
        json.Field("sampleRate", s.sampleRate).Field("channels", s.channels).Field("bitsPerSample", s.bitsPerSample);
    }
    json.EndObject();
}

void PrintJson(const std::vector<InputFile>& inputs, const MergeVerdict* merge) {
    JsonWriter json(Out());
    json.BeginObject().Key("files").BeginArray();
    for (const auto& input : inputs) {
        const FileDesc& d = input.desc;
        json.BeginObject().Field("path", input.path).Field("duration", d.duration).Field("bitRate", d.bitRate);
        json.Key("programs").BeginArray();
        for (const auto& program : d.programs) {
            json.BeginObject()
                .Field("number", program.number)
                .Field("inProgram", !program.outsidePrograms)
                .Field("duration", program.duration)
                .Field("bitRate", program.bitRate)
                .Field("subtitleStreams", program.subtitleCount);
            json.Key("streams").BeginArray();
            for (const auto& s : program.video) WriteStream(json, s, d.FindTrack(s.index));
            for (const auto& s : program.audio) WriteStream(json, s, d.FindTrack(s.index));
            json.EndArray().EndObject();
        }
        json.EndArray();
        json.Key("subtitles").BeginArray();
        for (const auto& track : d.tracks) {
            if (track.kind != MediaKind::kSubtitle) continue;
            json.BeginObject().Field("index", track.index).Field("codecId", track.codecId).Field("codec", track.codecName);
            WriteTrackFields(json, &track);
            json.EndObject();
        }
        json.EndArray().EndObject();
    }
    json.EndArray();
    if (merge) {
        json.Key("merge").BeginObject().Field("possible", merge->possible);
        if (!merge->possible) json.Field("reason", merge->reason);
        json.EndObject();
    }
    json.EndObject();
}

}  // namespace

int RunInfo(const Arguments& args) {
    ParsedArgs parsed = ParseArgs("info", args, {{"--json", "", false, false}, {"--quiet", "-q", false, false}});
    if (parsed.positional.empty()) UsageError("info needs at least one FILE");

    CheckReadable(parsed.positional);
    Converter converter;
    std::vector<InputFile> inputs;
    for (const auto& path : parsed.positional) {
        InputFile input = AddInput(converter.Get(), path);
        input.selected = DefaultStreams(input.desc);  // what a merge would take
        inputs.push_back(std::move(input));
    }
    MergeVerdict verdict;
    bool several = inputs.size() > 1;
    if (several) verdict = CheckMergeable(converter.Get(), inputs);

    if (parsed.Has("--json"))
        PrintJson(inputs, several ? &verdict : nullptr);
    else
        PrintText(inputs, several ? &verdict : nullptr);
    FlushOut();
    return 0;
}

}  // namespace kxcli
