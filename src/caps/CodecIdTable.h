// The rows of the codec identifier table, as data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

struct CodecIdRow {
    int32_t id;            // interface numbering (28 = H.264)
    const char* name;      // enumerator name, e.g. "AV_CODEC_ID_H264"
    const char* shortName; // "H264", "PCM", ... or "NONE"
};

const CodecIdRow* CodecIdRows(size_t* count);

}  // namespace kx
