// Every stream of an input as a copy sees it, data and attachments included:
// its kind, codec, language, title and disposition, and the file's title and
// chapters. Read from the opened file once, kept after it is handed on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "input/DemuxTypes.h"

struct AVFormatContext;

namespace kx {

struct StreamSummary {
    int32_t streamIndex = 0;
    MediaType mediaType = MediaType::kNone;  // kNone: data, attachments
    int32_t codecId = 0;                     // the interface numbering
    std::string codecName;                   // the media library's ("hevc")
    std::string language;                    // as tagged ("eng"); empty when untagged
    std::string title;                       // UTF-8
    int disposition = 0;                     // the media library's AV_DISPOSITION_* bits
};

struct Chapter {
    int64_t start = 0;  // ticks, on the file's clock
    int64_t end = 0;
    std::string title;
};

struct FileSummary {
    std::vector<StreamSummary> streams;
    std::string title;
    // The file's tags an output carries on (title, artist, date...), without
    // those that describe the source container itself (brands, encoder).
    std::vector<std::pair<std::string, std::string>> tags;
    std::vector<Chapter> chapters;
};

FileSummary SummarizeFile(const AVFormatContext* context);

}  // namespace kx
