#include "Codecs.h"

#include <cstdio>

#include "Component.h"

namespace kxcli {

namespace {

constexpr int32_t kPcmFirst = 0x10000, kPcmLast = 0x10019;

struct KnownCodec {
    int32_t id;
    const char* name;
};

constexpr KnownCodec kKnown[] = {
    {1, "mpeg1video"}, {2, "mpeg2video"}, {28, "h264"},    {0x10000, "pcm_s16le"}, {0x15000, "mp2"},
    {0x15001, "mp3"},  {0x15002, "aac"},  {0x15003, "ac3"}, {0x15004, "dts"},
};

}  // namespace

std::string CodecNameOf(int32_t codecId) {
    for (const auto& codec : kKnown)
        if (codec.id == codecId) return codec.name;
    if (codecId > kPcmFirst && codecId <= kPcmLast) return "pcm";
    char text[32];
    snprintf(text, sizeof text, "codec 0x%x", static_cast<unsigned>(codecId));
    return text;
}

std::string CodecName(const StreamDesc& stream) {
    return stream.codecName.empty() ? CodecNameOf(stream.codecId) : stream.codecName;
}

std::string CapabilityName(int32_t codecId) {
    if (codecId == 28) return "H264";
    if (codecId >= kPcmFirst && codecId <= kPcmLast) return "PCM";
    if (codecId == 0x15001) return "MP3";
    if (codecId == 0x15002) return "AAC";
    if (codecId == 0x15003) return "AC3";
    return {};
}

bool IsCopyable(int32_t codecId) { return Component().isCodecSupport(codecId) == 1; }

}  // namespace kxcli
