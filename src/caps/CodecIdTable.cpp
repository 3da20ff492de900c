#include "caps/CodecIdTable.h"

namespace kx {

namespace {
const CodecIdRow g_rows[] = {
#define CODEC_ROW(id, name, shortName) {id, name, shortName},
#include "caps/CodecIdTable.def"
#undef CODEC_ROW
};
}  // namespace

const CodecIdRow* CodecIdRows(size_t* count) {
    *count = sizeof g_rows / sizeof g_rows[0];
    return g_rows;
}

}  // namespace kx
