// remuxion split FILE -o DIR --size BYTES: pieces of about BYTES of media
// data each, every piece starting at a key frame.
#pragma once

#include <cstdint>
#include <string>

#include "Outputs.h"
#include "StreamChoice.h"

namespace kxcli {

// A failure removes the pieces written before it; Ctrl-C keeps them.
int SplitBySize(const std::string& path, const std::string& folder, const std::string& extension, int64_t bytes,
                bool quiet, const OutputChoice& outputs, const StreamFilter& filter);

}  // namespace kxcli
