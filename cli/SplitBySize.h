// remuxion split FILE -o DIR --size BYTES: pieces of at least BYTES of media
// data each (the last may be less), every piece starting at a key frame.
#pragma once

#include <cstdint>
#include <string>

#include "Input.h"
#include "Outputs.h"
#include "StreamChoice.h"

namespace kxcli {

// Of `input`, added to `converter` and nothing else done to it yet. A
// failure removes the pieces written before it; Ctrl-C keeps them.
int SplitBySize(IStreamwright* converter, InputFile& input, const std::string& folder,
                const std::string& extension, int64_t bytes, bool quiet, const OutputChoice& outputs,
                const StreamFilter& filter);

}  // namespace kxcli
