// remuxion split FILE -o DIR (--at T1,T2,... | --every D | --size BYTES | --clip START+LENGTH...)
//                            [--ext .mkv] [--any-frame | --exact] [--overwrite] [--fsync] [--quiet]
#include <cstdio>

#include "Args.h"
#include "Commands.h"
#include "Console.h"
#include "Input.h"
#include "KeyFrames.h"
#include "Outputs.h"
#include "SplitBySize.h"
#include "SplitPlan.h"
#include "StreamChoice.h"
#include "TaskRunner.h"
#include "TimeText.h"

namespace kxcli {

namespace {

std::vector<OptionSpec> Options() {
    std::vector<OptionSpec> options = {
        {"--output", "-o", true, false}, {"--at", "", true, false},     {"--every", "", true, false},
        {"--size", "", true, false},     {"--clip", "", true, true},    {"--ext", "", true, false},
        {"--any-frame", "", false, false}, {"--exact", "", false, false}, {"--quiet", "-q", false, false},
        {"--overwrite", "-y", false, false}, {"--fsync", "", false, false}, {"--allow-truncated", "", false, false},
    };
    for (auto& option : StreamFilterOptions()) options.push_back(option);
    return options;
}

std::string CutList(const std::vector<int64_t>& cuts) {
    std::string text;
    for (int64_t t : cuts) text += (text.empty() ? "" : ", ") + FormatClock(t);
    return text;
}

// What the options ask for, checked for syntax before any file is touched.
struct SplitRequest {
    std::vector<int64_t> cuts;       // --at
    int64_t every = 0;               // --every
    std::vector<StartLength> clips;  // --clip
    int64_t pieceBytes = 0;          // --size
};

SplitRequest ParseRequest(const ParsedArgs& parsed, bool anyFrame, bool exact) {
    SplitRequest request;
    if (auto at = parsed.Value("--at")) request.cuts = ParseTimeList(*at, "--at");
    for (size_t i = 0; i < request.cuts.size(); ++i)
        if (request.cuts[i] <= (i > 0 ? request.cuts[i - 1] : 0))
            UsageError("cut points for --at must rise above zero and above each other; " +
                       FormatClock(request.cuts[i]) + " does not");
    if (auto every = parsed.Value("--every")) {
        request.every = ParseTimeOrFail(*every, "--every");
        if (request.every <= 0) UsageError("--every needs a duration above zero");
    }
    for (const auto& option : parsed.All("--clip")) request.clips.push_back(ParseStartLength(option.value, "--clip"));
    if (auto size = parsed.Value("--size")) {
        auto bytes = ParseByteCount(*size);
        if (!bytes) UsageError("bad size '" + *size + "' for --size: write bytes, optionally with k, M or G (700M)");
        if (anyFrame) UsageError("--size cuts at key frames; it cannot be combined with --any-frame");
        if (exact) UsageError("--size cuts at key frames; it cannot be combined with --exact");
        request.pieceBytes = *bytes;
    }
    return request;
}

// The clips of --at or --every, cut at key frames unless any frame may start
// a clip; *moved tells where the cuts went when key frames moved them.
std::vector<TimeClip> CutClips(const SplitRequest& request, IStreamwright* converter, const InputFile& input,
                               bool anyFrame, bool quiet, std::string* moved) {
    int64_t duration = input.desc.DurationTicks();
    if (duration <= 0) Fail("the duration of " + input.path + " is unknown; give the clips with --clip");
    std::vector<int64_t> cuts = request.cuts;
    if (request.every > 0) {
        ClipsOfEvery(request.every, duration, input.path);  // checks the count
        cuts = CutPointsEvery(request.every, duration);
    } else {
        ClipsFromCutPoints(cuts, duration, input.path);  // checks the points as given
    }
    // Sound alone cuts at any packet: no key frames to move to.
    if (anyFrame || !input.HasSelected(MediaKind::kVideo)) return ClipsFromCutPoints(cuts, duration, input.path);
    std::vector<KeyFrameRecord> keyFrames = KeyFramesNear(converter, input, cuts, quiet);
    std::vector<int64_t> snapped = SnapCutPoints(cuts, keyFrames);
    if (snapped != cuts) *moved = snapped.empty() ? "none (one clip)" : CutList(snapped);
    std::vector<TimeClip> clips = ClipsFromCutPoints(snapped, duration, input.path);
    return clips;
}

std::vector<TimeClip> ExplicitClips(const SplitRequest& request, const InputFile& input) {
    std::vector<TimeClip> clips;
    int64_t duration = input.desc.DurationTicks();
    for (const auto& clip : request.clips) {
        if (duration > 0 && clip.start >= duration)
            Fail("the clip at " + FormatClock(clip.start) + " starts at or beyond the end of " + input.path + " (" +
                 FormatClock(duration) + ")");
        clips.push_back({clip.start, clip.length});
    }
    return clips;
}

// Per clip of an exact split: how many pictures were encoded again, or why
// the clip was cut at key frames.
void SayClipCuts(const std::vector<ClipCut>& cuts) {
    for (size_t i = 0; i < cuts.size(); ++i) {
        const ClipCut& cut = cuts[i];
        if (cut.report.fellBack)
            fprintf(Out(), "clip %zu: cut at key frames: %s\n", i + 1, cut.reason.c_str());
        else
            fprintf(Out(), "clip %zu: %lld frames re-encoded, %lld copied\n", i + 1,
                    static_cast<long long>(cut.report.reencodedFrames), static_cast<long long>(cut.report.copiedFrames));
    }
}

}  // namespace

int RunSplit(const Arguments& args) {
    ParsedArgs parsed = ParseArgs("split", args, Options());
    if (parsed.positional.size() != 1)
        UsageError(parsed.positional.empty() ? "split needs a FILE" : "split takes one FILE (merge joins several)");
    auto folder = parsed.Value("--output");
    if (!folder) UsageError("split needs the output folder: -o DIR");
    int modes = parsed.Has("--at") + parsed.Has("--every") + parsed.Has("--size") + parsed.Has("--clip");
    if (modes == 0) UsageError("split needs one of --at, --every, --size or --clip");
    if (modes > 1) UsageError("give only one of --at, --every, --size and --clip");
    const bool quiet = parsed.Has("--quiet");
    const bool anyFrame = parsed.Has("--any-frame");
    const bool exact = parsed.Has("--exact");
    if (anyFrame && exact) UsageError("give only one of --any-frame and --exact");
    std::string extension = parsed.Has("--ext") ? NormalizeExtension(*parsed.Value("--ext")) : std::string();
    const SplitRequest request = ParseRequest(parsed, anyFrame, exact);
    const StreamFilter filter = StreamFilterOf(parsed);

    Converter converter;
    SpareRateCount(converter.Get());
    InputFile input = AddInput(converter.Get(), parsed.positional[0]);
    PrepareOutputFolder(*folder);
    OutputChoice outputs = OutputChoiceOf(parsed);
    if (request.pieceBytes > 0)
        return SplitBySize(converter.Get(), input, *folder, extension, request.pieceBytes, quiet, outputs, filter);

    const StreamSelection streams =
        ChooseStreams(input, filter, extension.empty() ? ExtensionOf(input.path) : extension);
    SelectStreams(converter.Get(), input, streams.chosen);
    StartReading(converter.Get());
    std::string moved;
    std::vector<TimeClip> clips = parsed.Has("--clip") ? ExplicitClips(request, input)
                                                       : CutClips(request, converter.Get(), input, anyFrame || exact, quiet, &moved);
    if (parsed.Has("--clip") && !anyFrame && input.HasSelected(MediaKind::kVideo))
        IndexKeyFrames(converter.Get(), input, quiet);  // clip starts snap to it

    double seconds = 0;
    for (const auto& clip : clips) {
        ClipRange range{clip.start, clip.length, 0};  // the clip ends at the next cut's key frame
        if (converter->AddTimeClip(input.id, &range) != KX_S_OK) Fail("the component refused a clip of " + input.path);
        seconds += static_cast<double>(clip.length) / kTicksPerSecond;
    }

    TaskSettings settings = SettingsFor(TaskKind::kSplit, *folder, {&input}, "split", seconds, quiet, outputs);
    settings.option = exact ? KX_TASK_OPTION_EXACT_FRAMES : anyFrame ? 0 : -1;
    settings.extension = extension;
    TaskResult result = RunTask(converter.Get(), settings);
    // Said after the run, so that a failure stays one message.
    if (!moved.empty() && !quiet) fprintf(Out(), "cut at the nearest key frames: %s\n", moved.c_str());
    if (!quiet) SayClipCuts(result.cuts);
    SayLeftOut(streams, quiet);
    PrintOutputs(result, quiet);
    if (result.interrupted) throw CliError("interrupted; the files listed above are complete", kExitInterrupted);
    return 0;
}

}  // namespace kxcli
