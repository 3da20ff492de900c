// One selected stream of the multi-reader demuxer: its own single-file reader.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "input/CTSingleTDemuxer.h"

namespace kx {

struct StreamReaderEntry {
    int32_t streamIndex = 0;
    MediaType mediaType = MediaType::kNone;
    std::unique_ptr<CTSingleTDemuxer> reader;
};

// Ordered by stream index: calls and ties follow ascending index.
using StreamReaderMap = std::map<int, StreamReaderEntry>;

}  // namespace kx
