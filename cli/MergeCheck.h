// Whether inputs can be merged without re-encoding, and if not, which
// stream of which file breaks it.
#pragma once

#include <string>
#include <vector>

#include "Input.h"

namespace kxcli {

struct MergeVerdict {
    bool possible = true;
    std::string reason;  // names the first file that does not match, and the stream
};

// CheckMerge on a converter that holds the inputs (it also numbers the
// streams that a merge writes): the groups of file ids, first group first.
std::vector<std::vector<int64_t>> MergeGroups(IStreamwright* converter);

// Every input must be in the first group; otherwise the verdict names the
// first input that is not, and the stream that keeps it out.
MergeVerdict JudgeMergeGroups(const std::vector<std::vector<int64_t>>& groups, const std::vector<InputFile>& inputs);

// The same question for inputs that were added to the converter, their
// streams chosen in `selected` but not yet opened (for info): opens them,
// starts the readers and judges. The pairwise explanation of a refusal
// uses converters of its own.
MergeVerdict CheckMergeable(IStreamwright* converter, const std::vector<InputFile>& inputs);

}  // namespace kxcli
