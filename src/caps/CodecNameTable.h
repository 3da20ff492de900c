// The process-wide codec name table: codec identifier (our numbering,
// 28 = H.264) -> enumerator name and the short name used by the capability
// table and the codec support query.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

constexpr size_t kCodecNameLength = 64;

struct CodecNameEntry {
    int32_t codecId = 0;
    char16_t name[kCodecNameLength] = {};       // e.g. "AV_CODEC_ID_H264"
    char16_t shortName[kCodecNameLength] = {};  // e.g. "H264"; "NONE" when not copied
};

// Fills the table from the identifier rows on the first call; later calls do
// nothing. Safe to call from several threads.
void BuildCodecNameTable();

// The entry for an identifier, or null when it has no row or the table has
// not been built yet.
const CodecNameEntry* FindCodecNameEntry(int32_t codecId);

// Number of entries (0 before the first build).
size_t CodecNameTableSize();

// Copies the short name into buffer (at least 64 characters) and returns 1;
// returns 0 and leaves the buffer alone when the identifier has no entry.
// Logs a warning when the media library has no encoder for the codec.
int GetCodecShortName(int32_t codecId, char16_t* buffer);

}  // namespace kx
