// remuxion keyframes FILE [--json]
#include <cstdio>

#include "Args.h"
#include "Commands.h"
#include "Console.h"
#include "Input.h"
#include "Json.h"
#include "KeyFrames.h"
#include "TimeText.h"

namespace kxcli {

namespace {

double Seconds(int64_t ticks) { return static_cast<double>(ticks) / kTicksPerSecond; }

void PrintText(const InputFile& input, const std::vector<KeyFrameRecord>& keyFrames) {
    FILE* out = Out();
    fprintf(out, "%s: %zu key frame%s\n", input.path.c_str(), keyFrames.size(), keyFrames.size() == 1 ? "" : "s");
    fprintf(out, "%8s  %-13s %12s %10s\n", "#", "time", "seconds", "frame");
    for (size_t i = 0; i < keyFrames.size(); ++i)
        fprintf(out, "%8zu  %-13s %12s %10lld\n", i, FormatClock(keyFrames[i].time).c_str(),
                FormatSeconds(Seconds(keyFrames[i].time)).c_str(), static_cast<long long>(keyFrames[i].frameNumber));
}

void PrintJson(const InputFile& input, const std::vector<KeyFrameRecord>& keyFrames) {
    JsonWriter json(Out());
    json.BeginObject().Field("path", input.path).Field("count", static_cast<int64_t>(keyFrames.size()));
    json.Key("keyFrames").BeginArray();
    for (const auto& k : keyFrames)
        json.BeginObject(true)
            .Field("time", Seconds(k.time))
            .Field("ticks", k.time)
            .Field("frame", k.frameNumber)
            .EndObject();
    json.EndArray().EndObject();
}

}  // namespace

int RunKeyFrames(const Arguments& args) {
    ParsedArgs parsed = ParseArgs("keyframes", args, {{"--json", "", false, false}, {"--quiet", "-q", false, false}});
    if (parsed.positional.size() != 1) UsageError("keyframes takes one FILE");

    Converter converter;
    SpareRateCount(converter.Get());
    InputFile input = AddInput(converter.Get(), parsed.positional[0]);
    const StreamDesc* video = input.desc.FirstOf(MediaKind::kVideo);
    if (!video) Fail(input.path + " has no video stream, so it has no key frames");
    SelectStreams(converter.Get(), input, {{video->index, MediaKind::kVideo}});
    StartReading(converter.Get());
    bool json = parsed.Has("--json");
    std::vector<KeyFrameRecord> keyFrames = IndexKeyFrames(converter.Get(), input, parsed.Has("--quiet"));
    if (json)
        PrintJson(input, keyFrames);
    else
        PrintText(input, keyFrames);
    FlushOut();
    return 0;
}

}  // namespace kxcli
