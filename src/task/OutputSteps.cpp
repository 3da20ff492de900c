#include "task/OutputSteps.h"

#include "output/CTMuxer.h"
#include "task/TaskHost.h"

namespace kx {

void WriteToOutput(TaskHost& host, CTMuxer* output, int32_t key, AVPacket* packet) {
    if (output->WritePacket(key, packet) >= 0) return;
    if (const OutputFailure* failure = output->Failure()) host.FailTask(*failure);
}

bool CloseOutput(TaskHost& host, ClipTask& clip, bool complete) {
    MuxerPtr& output = clip.output;
    if (!output) return true;
    if (!complete || host.TaskFailed()) {
        output.reset();
        return true;
    }
    WriteStatus finished = output->Finish();
    output.reset();
    if (!finished.ok()) {
        host.FailTask(finished.failure());
        return false;
    }
    clip.outputComplete = true;
    return true;
}

}  // namespace kx
