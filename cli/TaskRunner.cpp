#include "TaskRunner.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "Console.h"
#include "Interrupt.h"
#include "ListedName.h"
#include "Outputs.h"
#include "Progress.h"
#include "TimeText.h"

namespace kxcli {

namespace {

constexpr uint32_t kPollMs = 100;

// What the notifications tell, written on the worker thread and read by
// the main thread.
struct TaskState {
    explicit TaskState(size_t outputs) : wrote(outputs), ranOut(outputs) {}
    std::atomic<int> overall{0};
    std::atomic<int> clipPercent{0};
    std::atomic<int64_t> clip{-1};
    std::atomic<int> filesBegun{0};
    std::vector<std::atomic<bool>> wrote;  // the clip wrote a packet (it reported progress)
    std::vector<std::atomic<bool>> ranOut;
    std::atomic<bool> ended{false};
    std::atomic<bool> failed{false};
    std::atomic<int32_t> failure{0};
};

int32_t OnNotify(void* context, int32_t code, TaskCursor* cursor, int32_t value) {
    auto* state = static_cast<TaskState*>(context);
    int64_t clip = cursor ? cursor->clipIndex : -1;
    bool known = clip >= 0 && static_cast<size_t>(clip) < state->wrote.size();
    switch (code) {
        case KX_NOTIFY_PROGRESS: state->overall = value; break;
        case KX_NOTIFY_CLIP_PROGRESS:
            state->clipPercent = value;
            if (known) state->wrote[clip] = true;
            break;
        case KX_NOTIFY_FILE_BEGIN: ++state->filesBegun; break;
        case KX_NOTIFY_CLIP_BEGIN:
            state->clipPercent = 0;
            if (cursor) state->clip = clip;
            break;
        case KX_NOTIFY_INPUT_ENDED:
            if (known) state->ranOut[clip] = true;
            break;
        case KX_NOTIFY_TASK_FAILED:
            state->failure = value;
            state->failed = true;
            break;
        case KX_NOTIFY_TASK_END: state->ended = true; break;
        default: break;
    }
    return 0;
}

// The component's reason for its last failure, "" when it gave none.
std::string LastErrorText(IStreamwright* converter) { return TakeBstr(Component().getLastErrorText(converter)); }

std::vector<std::string> OutputNames(IStreamwright* converter, int64_t fileId, int64_t count) {
    std::vector<std::string> names;
    for (int64_t i = 0; i < count; ++i) {
        BSTR name = nullptr;
        converter->GetOutputFileName(fileId, i, &name);
        names.push_back(TakeBstr(name));
    }
    return names;
}

std::string Detail(const TaskSettings& settings, const TaskState& state, size_t outputs) {
    if (settings.kind == TaskKind::kSplit && outputs > 1 && state.clip >= 0)
        return "clip " + std::to_string(state.clip + 1) + "/" + std::to_string(outputs);
    return {};
}

}  // namespace

TaskSettings SettingsFor(TaskKind kind, std::string outputPath, const std::vector<const InputFile*>& inputs,
                         std::string label, double mediaSeconds, bool quiet, const OutputChoice& outputs) {
    TaskSettings settings;
    settings.kind = kind;
    settings.outputPath = std::move(outputPath);
    settings.namingFileId = inputs.empty() ? 0 : inputs.front()->id;
    settings.label = std::move(label);
    settings.mediaSeconds = mediaSeconds;
    settings.quiet = quiet;
    settings.outputs = outputs;
    for (const InputFile* input : inputs) settings.sources.push_back(input->path);
    return settings;
}

namespace {

std::vector<ClipCut> ClipCuts(IStreamwright* converter, int64_t fileId, int64_t count) {
    std::vector<ClipCut> cuts(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        ClipCut& cut = cuts[static_cast<size_t>(i)];
        if (Component().getClipCutReport(converter, fileId, i, &cut.report) != KX_S_OK) continue;
        if (cut.report.fellBack) cut.reason = TakeBstr(Component().getClipCutReason(converter, fileId, i));
    }
    return cuts;
}

}  // namespace

TaskResult RunTask(IStreamwright* converter, const TaskSettings& settings) {
    converter->SetTaskType(static_cast<uint32_t>(settings.kind), settings.option);
    if (converter->SetOutputPath(Bstr(settings.outputPath)) != KX_S_OK) Fail("cannot use the output path " + settings.outputPath);
    if (!settings.extension.empty()) converter->SetOutputExtension(Bstr(settings.extension));
    uint32_t flags = 0;
    if (settings.outputs.overwrite) flags |= KX_OUTPUT_REPLACE;
    if (settings.outputs.sync) flags |= KX_OUTPUT_SYNC;
    if (Component().setOutputOptions(converter, flags) != KX_S_OK) Fail("the component refused the output options");

    // The count bounds the output names, so it comes before PrepareTask.
    int64_t count = converter->GetOutputCount(settings.namingFileId);
    if (count <= 0) Fail("there is nothing to write");
    const std::vector<std::string> names = OutputNames(converter, settings.namingFileId, count);
    for (const auto& name : names) CheckOutputFree(name, settings.sources, settings.outputs.overwrite);
    auto state = std::make_unique<TaskState>(static_cast<size_t>(count));
    converter->SetCallback(&OnNotify, state.get(), 0);

    HRESULT prepared = converter->PrepareTask();
    if (prepared != KX_S_OK) {
        std::string message = LastErrorText(converter);
        if (message.empty()) message = "the outputs could not be prepared";
        converter->Reset();  // removes outputs that were opened before the failure
        Fail(message);
    }
    if (converter->Start() != KX_S_OK) {
        converter->Reset();
        Fail("the task could not be started");
    }

    ProgressDisplay progress(settings.label, settings.mediaSeconds, settings.quiet);
    TaskResult result;
    while (converter->WaitForCompletion(kPollMs) == KX_WAIT_TIMEOUT) {
        if (Interrupted() && !result.interrupted) {
            result.interrupted = true;
            converter->Stop();  // returns once the worker has removed the output it was writing
            break;
        }
        progress.Update(state->overall, Detail(settings, *state, static_cast<size_t>(count)));
    }
    converter->WaitForCompletion(KX_INFINITE);
    progress.Finish(!result.interrupted && !state->failed);

    // Only outputs the component finished hold their names; those are ours.
    std::vector<std::string> complete;
    for (int64_t i = 0; i < count; ++i) {
        if (!Component().isOutputComplete(converter, settings.namingFileId, i)) continue;
        const std::string& path = names[static_cast<size_t>(i)];
        complete.push_back(path);
        if (settings.kind == TaskKind::kSplit && !state->wrote[static_cast<size_t>(i)]) {
            // A clip that wrote nothing (its start lies past the media) holds a header alone.
            RemoveOutputs({path});
            continue;
        }
        result.outputs.push_back(path);
        result.ranOut.push_back(state->ranOut[static_cast<size_t>(i)]);
    }
    // Ctrl-C as the task ended: the merge or mix was complete before the stop
    // could take effect, so it is kept and reported like any finished run.
    if (result.interrupted && settings.kind != TaskKind::kSplit && !state->failed && count > 0 &&
        complete.size() == static_cast<size_t>(count))
        result.interrupted = false;
    const std::string failure = state->failed ? LastErrorText(converter) : std::string();
    if (settings.kind == TaskKind::kSplit && settings.option == KX_TASK_OPTION_EXACT_FRAMES)
        result.cuts = ClipCuts(converter, settings.namingFileId, count);
    converter->SetCallback(nullptr, nullptr, 0);
    converter->Reset();  // removes the temporary files of outputs still open
    const bool endedEarly = state->failed && state->failure == KX_E_INPUT_ENDED_EARLY;
    if (endedEarly && settings.outputs.allowTruncated) {
        // Every output was finished; they hold what the inputs held.
        fprintf(Err(), "remuxion: warning: %s; the outputs hold what it had\n", failure.c_str());
    } else if (state->failed) {
        // A failed command leaves nothing behind, not even the clips it completed.
        RemoveOutputs(complete);
        char status[16];
        snprintf(status, sizeof status, "%08X", static_cast<uint32_t>(state->failure.load()));
        std::string message = failure.empty() ? "the task failed (status 0x" + std::string(status) + ")" : failure;
        if (endedEarly) message += "; nothing is kept (--allow-truncated keeps what it held)";
        Fail(message);
    }
    if (result.outputs.empty() && !result.interrupted) Fail("the task wrote no output file");
    return result;
}

void PrintOutputs(const TaskResult& result, bool quiet) {
    if (!quiet) {
        size_t n = result.outputs.size();
        fprintf(Out(), "%s %zu file%s:\n", result.interrupted ? "interrupted; kept" : "wrote", n, n == 1 ? "" : "s");
    }
    for (const auto& path : result.outputs) {
        struct stat status {};
        stat(path.c_str(), &status);
        const std::string name = ListedName(path);
        if (quiet)
            fprintf(Out(), "%s\n", name.c_str());
        else
            fprintf(Out(), "  %s  (%s)\n", name.c_str(), FormatBytes(static_cast<double>(status.st_size)).c_str());
    }
    FlushOut();
}

}  // namespace kxcli
