// Creation, growth and release of a KeyFrameIndex (256 records at a time).
#pragma once

#include "input/DemuxTypes.h"

namespace kx {

constexpr int32_t kKeyFrameIndexStep = 256;

// A new index with 256 slots, each set to number -1 and time -1.
KeyFrameIndex* CreateKeyFrameIndex();

// Empties the index in place (256 fresh slots), so pointers to it stay valid.
void ResetKeyFrameIndex(KeyFrameIndex* index);

// Appends one record, growing the array by 256 slots when it is full.
// False only when memory runs out.
bool AppendKeyFrame(KeyFrameIndex* index, const KeyFrameRecord& record);

void FreeKeyFrameIndex(KeyFrameIndex* index);

inline int32_t KeyFrameCount(const KeyFrameIndex* index) { return index ? index->lastIndex + 1 : 0; }

}  // namespace kx
