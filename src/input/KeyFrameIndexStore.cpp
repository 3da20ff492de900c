#include "input/KeyFrameIndexStore.h"

#include <new>

namespace kx {

namespace {

KeyFrameRecord* NewSlots(int32_t count) {
    auto* slots = new (std::nothrow) KeyFrameRecord[count];
    if (!slots) return nullptr;
    for (int32_t i = 0; i < count; ++i) slots[i] = KeyFrameRecord{-1, 0, -1, -1};
    return slots;
}

}  // namespace

KeyFrameIndex* CreateKeyFrameIndex() {
    auto* index = new (std::nothrow) KeyFrameIndex;
    if (!index) return nullptr;
    index->entries = NewSlots(kKeyFrameIndexStep);
    index->lastSlot = index->entries ? kKeyFrameIndexStep - 1 : -1;
    index->lastIndex = -1;
    return index;
}

void ResetKeyFrameIndex(KeyFrameIndex* index) {
    if (!index) return;
    delete[] index->entries;
    index->entries = NewSlots(kKeyFrameIndexStep);
    index->lastSlot = index->entries ? kKeyFrameIndexStep - 1 : -1;
    index->lastIndex = -1;
}

bool AppendKeyFrame(KeyFrameIndex* index, const KeyFrameRecord& record) {
    if (!index) return false;
    if (index->lastIndex > index->lastSlot - 1) {  // full
        int32_t capacity = index->lastSlot + 1 + kKeyFrameIndexStep;
        KeyFrameRecord* grown = NewSlots(capacity);
        if (!grown) return false;
        for (int32_t i = 0; i <= index->lastIndex; ++i) grown[i] = index->entries[i];
        delete[] index->entries;
        index->entries = grown;
        index->lastSlot = capacity - 1;
    }
    index->entries[++index->lastIndex] = record;
    return true;
}

void FreeKeyFrameIndex(KeyFrameIndex* index) {
    if (!index) return;
    delete[] index->entries;
    delete index;
}

}  // namespace kx
