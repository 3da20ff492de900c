// Runs a prepared split, merge or stream mix: set-up, start, progress,
// Ctrl-C, output names.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Component.h"
#include "Input.h"
#include "Outputs.h"

namespace kxcli {

enum class TaskKind : uint32_t { kSplit = 0, kMerge = 1, kMix = 2 };

struct TaskSettings {
    TaskKind kind = TaskKind::kSplit;
    int32_t option = -1;          // 0: any frame may start a clip
    std::string outputPath;       // split: the folder; merge, mix: the file
    std::string extension;        // split: replaces the input's extension when set
    int64_t namingFileId = 0;     // the file whose outputs are counted and named
    std::string label;            // shown beside the progress bar
    double mediaSeconds = 0;      // media time the task covers, for the speed
    bool quiet = false;
    OutputChoice outputs;
    std::vector<std::string> sources;  // the inputs, never written over
};

// The settings every task shares: outputs named after the first input.
TaskSettings SettingsFor(TaskKind kind, std::string outputPath, const std::vector<const InputFile*>& inputs,
                         std::string label, double mediaSeconds, bool quiet, const OutputChoice& outputs);

// How a split clip with --exact was cut (KX_GetClipCutReport), and why it
// was cut at key frames when it was.
struct ClipCut {
    KX_ClipCutReport report{};
    std::string reason;
};

struct TaskResult {
    std::vector<std::string> outputs;  // complete outputs, in order
    std::vector<ClipCut> cuts;         // split with exact frames: per clip
    bool interrupted = false;
    std::vector<bool> ranOut;          // per output: the input ended before the clip did
};

// Streams must already be selected and the readers started (StartReading),
// and the clips set. Fails with one message, naming the output, when an
// output name is taken (unless overwriting) or is an input, when the outputs
// cannot be prepared, when the task cannot start, and when it fails (a full
// disk: the system's reason); a failed task leaves no output, not even those
// it completed. Interrupted (Ctrl-C), it keeps the outputs that were complete.
// An input that ended before its index or duration said fails the task the
// same way, unless allowTruncated: then a warning is printed and the outputs
// stay.
TaskResult RunTask(IStreamwright* converter, const TaskSettings& settings);

// Prints "wrote N files:" and the names (just the names with --quiet), each
// on its own line as ListedName writes it.
void PrintOutputs(const TaskResult& result, bool quiet);

}  // namespace kxcli
