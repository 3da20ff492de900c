// The pieces are the component's size clips in one task, chained: each ends
// at the first key frame after its payload reached the size and the next
// starts exactly there, so the input is read once and pieces neither overlap
// nor leave a gap. As many clips as the file could fill are asked for; those
// after the input ran out make no file, and the last takes the rest.
#include "SplitBySize.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "Commands.h"
#include "Console.h"
#include "Input.h"
#include "TaskRunner.h"

namespace kxcli {

namespace {

constexpr int64_t kMaxPieces = 10'000;

}  // namespace

int SplitBySize(IStreamwright* converter, InputFile& input, const std::string& folder,
                const std::string& extension, int64_t bytes, bool quiet, const OutputChoice& outputs,
                const StreamFilter& filter) {
    struct stat status {};
    if (stat(input.path.c_str(), &status) != 0) Fail("cannot read " + input.path + ": " + std::strerror(errno));
    const int64_t pieces = std::max<int64_t>(1, (static_cast<int64_t>(status.st_size) + bytes - 1) / bytes);
    if (pieces > kMaxPieces)
        Fail("--size " + std::to_string(bytes) + " would make more than " + std::to_string(kMaxPieces) + " pieces");

    const StreamSelection streams =
        ChooseStreams(input, filter, extension.empty() ? ExtensionOf(input.path) : extension);
    SelectStreams(converter, input, streams.chosen);
    StartReading(converter);
    for (int64_t i = 0; i < pieces; ++i) {
        ClipRange range{0, bytes, 0};  // the first starts at 0 s; the others where the one before ended
        if (converter->AddSizeClip(input.id, &range) != KX_S_OK) Fail("the component refused a size clip of " + input.path);
    }
    TaskSettings settings = SettingsFor(TaskKind::kSplit, folder, {&input}, "split", input.desc.duration, quiet, outputs);
    settings.option = KX_TASK_OPTION_SIZE_PIECES;
    settings.extension = extension;
    TaskResult result = RunTask(converter, settings);
    SayLeftOut(streams, quiet);
    PrintOutputs(result, quiet);
    if (result.interrupted) throw CliError("interrupted; the files listed above are complete", kExitInterrupted);
    return 0;
}

}  // namespace kxcli
