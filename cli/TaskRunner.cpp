#include "TaskRunner.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "Console.h"
#include "InputReports.h"
#include "Interrupt.h"
#include "LibraryLog.h"
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
        case KX_NOTIFY_TASK_END: state->ended = true; break;
        default: break;
    }
    return 0;
}

bool Exists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string Detail(const TaskSettings& settings, const TaskState& state, size_t outputs) {
    if (settings.kind == TaskKind::kSplit && outputs > 1 && state.clip >= 0)
        return "clip " + std::to_string(state.clip + 1) + "/" + std::to_string(outputs);
    return {};
}

}  // namespace

TaskResult RunTask(IStreamwright* converter, const TaskSettings& settings) {
    converter->SetTaskType(static_cast<uint32_t>(settings.kind), settings.option);
    if (converter->SetOutputPath(Bstr(settings.outputPath)) != KX_S_OK) Fail("cannot use the output path " + settings.outputPath);
    if (!settings.extension.empty()) converter->SetOutputExtension(Bstr(settings.extension));

    // The count bounds the output names, so it comes before PrepareTask.
    int64_t count = converter->GetOutputCount(settings.namingFileId);
    if (count <= 0) Fail("there is nothing to write");
    auto state = std::make_unique<TaskState>(static_cast<size_t>(count));
    converter->SetCallback(&OnNotify, state.get(), 0);

    TakeLibraryLog();
    TakeLibraryStderr();
    HRESULT prepared = converter->PrepareTask();
    if (prepared != KX_S_OK) {
        std::string message = ExplainPrepareFailure(TakeLibraryLog(), TakeLibraryStderr(), settings.plan);
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
            converter->Stop();  // returns once the worker has closed the current output
            break;
        }
        progress.Update(state->overall, Detail(settings, *state, static_cast<size_t>(count)));
    }
    converter->WaitForCompletion(KX_INFINITE);
    progress.Finish(!result.interrupted);

    for (int64_t i = 0; i < count; ++i) {
        BSTR name = nullptr;
        if (converter->GetOutputFileName(settings.namingFileId, i, &name) != KX_S_OK) continue;
        std::string path = TakeBstr(name);
        if (settings.kind == TaskKind::kSplit && !state->wrote[static_cast<size_t>(i)]) {
            // A clip that wrote nothing (a stop kept it from running, or its
            // start lies past the media) left only a header behind.
            std::remove(path.c_str());
            continue;
        }
        result.outputs.push_back(path);
        result.ranOut.push_back(state->ranOut[static_cast<size_t>(i)]);
    }
    converter->SetCallback(nullptr, nullptr, 0);
    converter->Reset();  // deletes outputs whose muxers are still open
    std::vector<std::string> kept;
    std::vector<bool> keptRanOut;
    for (size_t i = 0; i < result.outputs.size(); ++i) {
        if (!Exists(result.outputs[i])) continue;
        kept.push_back(result.outputs[i]);
        keptRanOut.push_back(result.ranOut[i]);
    }
    result.outputs = std::move(kept);
    result.ranOut = std::move(keptRanOut);
    result.endedEarly = EarlyEndReports(TakeLibraryLog());
    if (!result.endedEarly.empty()) JudgeEarlyEnds(result, settings.allowTruncated);
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
        if (quiet)
            fprintf(Out(), "%s\n", path.c_str());
        else
            fprintf(Out(), "  %s  (%s)\n", path.c_str(), FormatBytes(static_cast<double>(status.st_size)).c_str());
    }
    fflush(Out());
}

}  // namespace kxcli
