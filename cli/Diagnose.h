// Turns the component's log lines after a failed PrepareTask into one
// message a user can act on.
#pragma once

#include <string>
#include <vector>

#include "MediaInfo.h"

namespace kxcli {

struct PlannedStream {
    StreamDesc stream;
    std::string source;  // the input it comes from
};

struct OutputPlan {
    std::string extension;               // ".mp4", as the outputs are named
    std::vector<PlannedStream> streams;  // what is written, video first
    std::vector<std::string> sources;    // the inputs
};

std::string ExplainPrepareFailure(const std::vector<std::string>& logLines, const std::string& libraryStderr,
                                  const OutputPlan& plan);

}  // namespace kxcli
