// Names of codecs for messages: the component numbers codecs itself
// (28 = H.264, 0x15002 = AAC).
#pragma once

#include <cstdint>
#include <string>

#include "MediaInfo.h"

namespace kxcli {

// "h264", "aac", ...; the record's own name when it has one, else a name
// from the identifier, else "codec 0x...".
std::string CodecName(const StreamDesc& stream);
std::string CodecNameOf(int32_t codecId);

// The name the capability table lists a codec under ("H264", "AAC", "PCM",
// "MP3", "AC3"); empty for codecs that have none.
std::string CapabilityName(int32_t codecId);

// Whether the component can copy the codec at all.
bool IsCopyable(int32_t codecId);

}  // namespace kxcli
