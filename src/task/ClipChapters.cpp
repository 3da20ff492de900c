#include "task/ClipChapters.h"

#include <algorithm>
#include <limits>

#include "task/FileReaders.h"

namespace kx {

std::vector<Chapter> ChaptersWithin(const std::vector<Chapter>& chapters, int64_t from, int64_t to, int64_t shift) {
    std::vector<Chapter> inside;
    for (const auto& chapter : chapters) {
        if (chapter.end <= from || chapter.start >= to) continue;
        Chapter moved = chapter;
        moved.start = std::max(chapter.start, from) + shift;
        moved.end = std::min(chapter.end, to) + shift;
        inside.push_back(std::move(moved));
    }
    return inside;
}

std::vector<Chapter> ClipChapters(const FileRecord& file, const ClipBounds& bounds, int64_t zero, int64_t shift) {
    const FileSummary* summary = SummaryOf(file);
    if (!summary) return {};
    const std::vector<Chapter>& chapters = summary->chapters;
    const int64_t from = bounds.fromFileStart ? std::numeric_limits<int64_t>::min() : bounds.start;
    const int64_t to = bounds.toFileEnd ? std::numeric_limits<int64_t>::max() : bounds.end;
    return ChaptersWithin(chapters, from, to, shift - zero);
}

}  // namespace kx
