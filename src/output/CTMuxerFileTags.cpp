// CTMuxer: what an output carries about the whole file, its tags and chapters.
extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "output/CTMuxer.h"

void CTMuxer::SetFileTags(const std::vector<std::pair<std::string, std::string>>& tags) {
    if (!context_ || headerWritten_) return;
    for (const auto& [key, value] : tags) av_dict_set(&context_->metadata, key.c_str(), value.c_str(), 0);
}

void CTMuxer::AddChapters(const std::vector<kx::Chapter>& chapters) {
    chapters_.insert(chapters_.end(), chapters.begin(), chapters.end());
}

void CTMuxer::AttachChapters() {
    if (!context_ || context_->nb_chapters != 0) return;
    const AVRational ticks{1, static_cast<int>(kx::kTicksPerSecond)};
    // Chapters move with the packets when the container cannot start before 0.
    const int64_t lead = leadTicks_.value_or(0);
    for (const auto& chapter : chapters_) {
        // The context frees its chapters with itself.
        auto* entry = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!entry) return;
        entry->id = static_cast<int64_t>(context_->nb_chapters) + 1;
        entry->time_base = ticks;
        entry->start = chapter.start + lead;
        entry->end = chapter.end + lead;
        if (!chapter.title.empty()) av_dict_set(&entry->metadata, "title", chapter.title.c_str(), 0);
        if (av_dynarray_add_nofree(&context_->chapters, reinterpret_cast<int*>(&context_->nb_chapters), entry) < 0) {
            av_dict_free(&entry->metadata);
            av_free(entry);
            return;
        }
    }
}
