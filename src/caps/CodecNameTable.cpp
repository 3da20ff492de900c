#include "caps/CodecNameTable.h"

#include <atomic>
#include <map>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "caps/CodecIdTable.h"
#include "media/MediaKernel.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "platform/WideString.h"

namespace kx {

namespace {

// Written once under the once-flag, then only read. Readers look at it only
// after `g_built` is set, so a query racing the first build sees an empty
// table instead of a half-filled map.
std::map<int32_t, CodecNameEntry> g_table;
std::once_flag g_buildOnce;
std::atomic<bool> g_built{false};

void Widen(char16_t* dest, const char* narrow) {
    WideCopy(dest, kCodecNameLength, Utf8ToWide(std::string(narrow)).c_str());
}

void FillTable() {
    size_t count = 0;
    const CodecIdRow* rows = CodecIdRows(&count);
    for (size_t i = 0; i < count; ++i) {
        // Marker rows come before the enumerator sharing their value, and the
        // first row of an identifier stays.
        if (g_table.count(rows[i].id)) continue;
        CodecNameEntry entry;
        entry.codecId = rows[i].id;
        Widen(entry.name, rows[i].name);
        Widen(entry.shortName, rows[i].shortName);
        g_table.emplace(rows[i].id, entry);
    }
    g_built.store(true, std::memory_order_release);
}

}  // namespace

void BuildCodecNameTable() { std::call_once(g_buildOnce, FillTable); }

const CodecNameEntry* FindCodecNameEntry(int32_t codecId) {
    if (!g_built.load(std::memory_order_acquire)) return nullptr;
    auto it = g_table.find(codecId);
    return it == g_table.end() ? nullptr : &it->second;
}

size_t CodecNameTableSize() { return g_built.load(std::memory_order_acquire) ? g_table.size() : 0; }

int GetCodecShortName(int32_t codecId, char16_t* buffer) {
    if (!avcodec_find_encoder(ToLibraryCodecId(codecId)))
        LogFormat(legacy::kUnknownOutputCodec, codecId);
    const CodecNameEntry* entry = FindCodecNameEntry(codecId);
    if (!entry || !buffer) return 0;
    WideCopy(buffer, kCodecNameLength, entry->shortName);
    return 1;
}

}  // namespace kx
