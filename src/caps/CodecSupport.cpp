// The exported codec queries: can a stream of this codec be copied at all,
// and may a given output container take it?
#include <cstdint>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "KX_Remuxion.h"
#include "caps/CodecNameTable.h"
#include "caps/ContainerChoice.h"
#include "media/MediaKernel.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"

extern "C" KX_EXPORT int32_t IsCodecSupport(int32_t codecId) {
    if (codecId == 0) return 0;
    if (!avcodec_find_encoder(kx::ToLibraryCodecId(codecId))) {
        LogFormat(kx::legacy::kUnknownInputCodec, codecId);
        return 0;
    }
    const kx::CodecNameEntry* entry = kx::FindCodecNameEntry(codecId);
    if (!entry) return 0;
    return std::u16string_view(entry->shortName) != u"NONE" ? 1 : 0;
}

extern "C" KX_EXPORT int32_t KX_IsCodecAllowedIn(const OLECHAR* extension, int32_t codecId) {
    return kx::IsCodecAllowedIn(extension, codecId) ? 1 : 0;
}
