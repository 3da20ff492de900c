// What a converter found wrong with its inputs beyond a status: why the last
// file could not be added, and which inputs of the last task ended before
// their index or duration said. Kept as values; each is also logged once,
// in a line that starts with "Remuxion Input::".
#pragma once

#include <cstdint>
#include <string>

#include "input/InputEnd.h"
#include "input/InputProblem.h"
#include "task/FailureReport.h"

namespace kx {

struct EarlyInputEnd {
    int64_t fileId = -1;
    std::u16string path;
    InputEnd end;
};

// "in.mp4 ended early, at 4.000 s of 10.000 s: its index places media after the end of the file"
std::u16string DescribeEarlyEnd(const EarlyInputEnd& early);

// "cannot open in.m3u8: it is hls (...), a format that reads other files ..."
std::u16string DescribeRefusedInput(const std::u16string& path, const InputProblem& problem);

}  // namespace kx
