#include "caps/CodecIdTable.h"

#include "KX_Remuxion.h"

namespace kx {

namespace {

constexpr CodecIdRow g_rows[] = {
#define CODEC_ROW(id, name, shortName) {id, name, shortName},
#include "caps/CodecIdTable.def"
#undef CODEC_ROW
};

constexpr bool SameText(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr int32_t RowId(const char* name) {
    for (const auto& row : g_rows)
        if (SameText(row.name, name)) return row.id;
    return -1;
}

// The header's constants are the rows' identifiers.
static_assert(RowId("AV_CODEC_ID_HEVC") == KX_CODEC_HEVC);
static_assert(RowId("AV_CODEC_ID_VP9") == KX_CODEC_VP9);
static_assert(RowId("AV_CODEC_ID_AV1") == KX_CODEC_AV1);
static_assert(RowId("AV_CODEC_ID_ASS") == KX_CODEC_ASS);

}  // namespace

const CodecIdRow* CodecIdRows(size_t* count) {
    *count = sizeof g_rows / sizeof g_rows[0];
    return g_rows;
}

}  // namespace kx
