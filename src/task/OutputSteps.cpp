#include "task/OutputSteps.h"

#include "api/CStreamwright.h"
#include "output/CTMuxer.h"

namespace kx {

void WriteToOutput(CStreamwright& converter, CTMuxer* output, int32_t key, AVPacket* packet) {
    if (output->WritePacket(key, packet) >= 0) return;
    if (const OutputFailure* failure = output->Failure()) converter.FailTask(*failure);
}

bool CloseOutput(CStreamwright& converter, ClipTask& clip, bool complete) {
    MuxerPtr& output = clip.output;
    if (!output) return true;
    if (!complete || converter.TaskFailed()) {
        output.reset();
        return true;
    }
    WriteStatus finished = output->Finish();
    output.reset();
    if (!finished.ok()) {
        converter.FailTask(finished.failure());
        return false;
    }
    clip.outputComplete = true;
    return true;
}

}  // namespace kx
