// The chapters of a source that fall inside a clip, moved onto the output's
// clock: a split keeps those of each clip, a merge appends each file's.
#pragma once

#include <cstdint>
#include <vector>

#include "input/StreamSummary.h"
#include "task/ClipBounds.h"

namespace kx {

struct FileRecord;

// Chapters that overlap [from, to) of the file's clock, cut to it and moved
// by `shift`.
std::vector<Chapter> ChaptersWithin(const std::vector<Chapter>& chapters, int64_t from, int64_t to, int64_t shift);

// The chapters of a time clip with these bounds, its file time `zero` at
// output time zero + shift.
std::vector<Chapter> ClipChapters(const FileRecord& file, const ClipBounds& bounds, int64_t zero, int64_t shift);

}  // namespace kx
