// remuxion mix FILE [--stream N] FILE [--stream N]... -o OUT [--overwrite] [--fsync] [--quiet]
// Each --stream chooses the stream of the FILE just before it.
#include <algorithm>
#include <map>

#include "Args.h"
#include "Commands.h"
#include "Console.h"
#include "Input.h"
#include "Outputs.h"
#include "TaskRunner.h"

namespace kxcli {

namespace {

constexpr int64_t kWholeFile = INT64_C(1) << 52;

// File position -> the stream index chosen for it.
std::map<size_t, int32_t> StreamOptions(const ParsedArgs& parsed) {
    std::map<size_t, int32_t> chosen;
    for (const auto& option : parsed.All("--stream")) {
        if (option.filesBefore == 0) UsageError("--stream N comes after the FILE whose stream it chooses");
        size_t file = option.filesBefore - 1;
        if (chosen.count(file)) UsageError("give one --stream per file (" + parsed.positional[file] + " has two)");
        const std::string& text = option.value;
        bool digits = !text.empty() && text.size() <= 6;
        for (char c : text) digits = digits && c >= '0' && c <= '9';
        if (!digits) UsageError("bad stream number '" + text + "' for --stream: write the stream's index, like 0 or 1");
        chosen[file] = std::stoi(text);
    }
    return chosen;
}

}  // namespace

int RunMix(const Arguments& args) {
    ParsedArgs parsed = ParseArgs("mix", args, {{"--output", "-o", true, false},
                                                {"--stream", "", true, true},
                                                {"--quiet", "-q", false, false},
                                                {"--overwrite", "-y", false, false},
                                                {"--fsync", "", false, false},
                                                {"--allow-truncated", "", false, false}});
    if (parsed.positional.empty()) UsageError("mix needs the FILEs whose streams it puts together");
    auto output = parsed.Value("--output");
    if (!output) UsageError("mix needs the output file: -o OUT");
    const bool quiet = parsed.Has("--quiet");
    const bool overwrite = parsed.Has("--overwrite");
    CheckOutputFile(*output, parsed.positional, overwrite);
    std::map<size_t, int32_t> chosen = StreamOptions(parsed);

    CheckReadable(parsed.positional);
    Converter converter;
    SpareRateCount(converter.Get());
    std::vector<InputFile> inputs;
    bool video = false;
    for (size_t i = 0; i < parsed.positional.size(); ++i) {
        InputFile input = AddInput(converter.Get(), parsed.positional[i]);
        StreamChoice choice = chosen.count(i) ? ChooseStream(input, chosen[i]) : DefaultStreams(input.desc).front();
        video = video || choice.kind == MediaKind::kVideo;
        SelectStreams(converter.Get(), input, {choice});
        inputs.push_back(std::move(input));
    }
    StartReading(converter.Get());
    if (!video) Fail("cannot mix: outputs need a video stream and none is chosen (choose one with --stream)");

    double longest = 0;
    std::vector<const InputFile*> sources;
    for (const auto& input : inputs) {
        // A mix runs until every input ends; the lengths only weigh the progress.
        int64_t duration = input.desc.DurationTicks();
        ClipRange clip{0, duration > 0 ? duration : kWholeFile, 0};
        if (converter->AddTimeClip(input.id, &clip) != KX_S_OK) Fail("the component refused a clip of " + input.path);
        longest = std::max(longest, input.desc.duration);
        sources.push_back(&input);
    }

    TaskResult result = RunTask(converter.Get(), SettingsFor(TaskKind::kMix, *output, sources, "mix", longest, quiet,
                                                             OutputChoiceOf(parsed)));
    if (result.interrupted) throw CliError("interrupted; nothing was written", kExitInterrupted);
    PrintOutputs(result, quiet);
    return 0;
}

}  // namespace kxcli
