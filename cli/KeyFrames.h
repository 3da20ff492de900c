// The key-frame index of an input, built by the component while the main
// thread shows progress and watches for Ctrl-C.
#pragma once

#include <vector>

#include "Input.h"

namespace kxcli {

// Scans the input's first selected video stream. Fails when there is no
// video stream or the scan fails; a Ctrl-C cancels it and ends the program.
std::vector<KeyFrameRecord> IndexKeyFrames(IStreamwright* converter, const InputFile& input, bool quiet);

// The key frames next to each time and the file's first: enough to move
// cuts to key frames. Read near the times where the input allows, else the
// whole index, with the same progress, Ctrl-C and failures.
std::vector<KeyFrameRecord> KeyFramesNear(IStreamwright* converter, const InputFile& input,
                                          const std::vector<int64_t>& times, bool quiet);

// The key frame nearest to t (the later one on a tie); t when there is none.
int64_t NearestKeyFrame(const std::vector<KeyFrameRecord>& keyFrames, int64_t t);

}  // namespace kxcli
