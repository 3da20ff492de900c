// remuxion merge FILE... -o OUT [--overwrite] [--fsync] [--quiet]
#include "Args.h"
#include "Commands.h"
#include "Console.h"
#include "Input.h"
#include "MergeCheck.h"
#include "Outputs.h"
#include "SplitPlan.h"
#include "StreamChoice.h"
#include "TaskRunner.h"
#include "TimeText.h"

namespace kxcli {

namespace {

// A length no input reaches: the input's end ends the clip.
constexpr int64_t kWholeFile = INT64_C(1) << 52;

// The whole file as one clip; the duration also weighs the progress.
ClipRange WholeFileClip(const InputFile& input) {
    int64_t duration = input.desc.DurationTicks();
    return ClipRange{0, duration > 0 ? duration + kTailMargin : kWholeFile, 0};
}

}  // namespace

int RunMerge(const Arguments& args) {
    std::vector<OptionSpec> options = {{"--output", "-o", true, false},
                                       {"--quiet", "-q", false, false},
                                       {"--overwrite", "-y", false, false},
                                       {"--fsync", "", false, false},
                                       {"--allow-truncated", "", false, false}};
    for (auto& option : StreamFilterOptions()) options.push_back(option);
    ParsedArgs parsed = ParseArgs("merge", args, options);
    if (parsed.positional.empty()) UsageError("merge needs the FILEs to join");
    auto output = parsed.Value("--output");
    if (!output) UsageError("merge needs the output file: -o OUT");
    const bool quiet = parsed.Has("--quiet");
    const bool overwrite = parsed.Has("--overwrite");
    CheckOutputFile(*output, parsed.positional, overwrite);
    const StreamFilter filter = StreamFilterOf(parsed);

    CheckReadable(parsed.positional);
    Converter converter;
    SpareRateCount(converter.Get());
    std::vector<InputFile> inputs;
    StreamSelection firstStreams;
    for (const auto& path : parsed.positional) {
        InputFile input = AddInput(converter.Get(), path);
        StreamSelection streams = ChooseStreams(input, filter, ExtensionOf(*output));
        SelectStreams(converter.Get(), input, streams.chosen);
        if (inputs.empty()) firstStreams = std::move(streams);
        inputs.push_back(std::move(input));
    }
    StartReading(converter.Get());

    MergeVerdict verdict = JudgeMergeGroups(MergeGroups(converter.Get()), inputs);
    if (!verdict.possible) Fail("cannot merge without re-encoding: " + verdict.reason);

    double seconds = 0;
    std::vector<const InputFile*> sources;
    for (const auto& input : inputs) {
        ClipRange clip = WholeFileClip(input);
        if (converter->AddTimeClip(input.id, &clip) != KX_S_OK) Fail("the component refused a clip of " + input.path);
        seconds += input.desc.duration;
        sources.push_back(&input);
    }

    TaskResult result = RunTask(converter.Get(), SettingsFor(TaskKind::kMerge, *output, sources, "merge", seconds,
                                                             quiet, OutputChoiceOf(parsed)));
    if (result.interrupted) throw CliError("interrupted; nothing was written", kExitInterrupted);
    SayLeftOut(firstStreams, quiet);
    PrintOutputs(result, quiet);
    return 0;
}

}  // namespace kxcli
