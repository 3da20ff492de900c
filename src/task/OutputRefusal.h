// Why the output of a task could not be set up, as the sentence the host
// gets from KX_GetLastErrorText: the capability table's verdict, the
// writer's own failure, or a stream it could not take.
#pragma once

#include <cstdint>
#include <string>

#include "task/FailureReport.h"

class CTMuxer;

namespace kx {

// An output that opened (or failed to) for streams of the input source.
// From the muxer's table verdict and failure; when neither says more, the
// output could not take the source's stream streamIndex (-1: unknown).
FailureReport DescribeOutputRefusal(const CTMuxer& muxer, const std::u16string& outputName,
                                    const std::u16string& source, int64_t streamIndex = -1);

// An input that gives the output no stream.
FailureReport NoStreamRefusal(const std::u16string& source);

// A task without an output name: no output folder, or a name too long.
FailureReport UnnamedOutputRefusal();

}  // namespace kx
