// The streams an output is opened for: the audio and the video description.
#pragma once

#include "input/DemuxTypes.h"

namespace kx {

struct MediaStreamPair {
    StreamMediaInfo* audio = nullptr;
    StreamMediaInfo* video = nullptr;
};

}  // namespace kx
