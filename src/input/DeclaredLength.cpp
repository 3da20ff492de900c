#include "input/DeclaredLength.h"

#include <cstring>
#include <string_view>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kx {

namespace {

// Enough for an EBML header with its usual children and the segment's size.
constexpr size_t kHeadBytes = 256;

constexpr uint32_t kEbmlId = 0x1A45DFA3;
constexpr uint32_t kSegmentId = 0x18538067;

// An EBML variable-length number at head[*at]; false when cut off or
// malformed. With keepMarker it is an element ID (the length marker stays).
bool ReadVint(const uint8_t* head, size_t size, size_t* at, bool keepMarker, uint64_t* value, bool* allOnes) {
    if (*at >= size || head[*at] == 0) return false;
    const uint8_t first = head[*at];
    int length = 1;
    while (!(first & (0x80 >> (length - 1)))) ++length;
    if (*at + static_cast<size_t>(length) > size) return false;
    const uint8_t marker = static_cast<uint8_t>(0x80 >> (length - 1));
    uint64_t number = keepMarker ? first : (first & static_cast<uint8_t>(marker - 1));
    bool ones = (first & static_cast<uint8_t>(marker - 1)) == static_cast<uint8_t>(marker - 1);
    for (int i = 1; i < length; ++i) {
        number = (number << 8) | head[*at + static_cast<size_t>(i)];
        ones = ones && head[*at + static_cast<size_t>(i)] == 0xFF;
    }
    *at += static_cast<size_t>(length);
    *value = number;
    if (allOnes) *allOnes = ones;
    return true;
}

int64_t MatroskaLength(const uint8_t* head, size_t size) {
    size_t at = 0;
    uint64_t id = 0, length = 0;
    bool unknown = false;
    if (!ReadVint(head, size, &at, true, &id, nullptr) || id != kEbmlId) return -1;
    if (!ReadVint(head, size, &at, false, &length, &unknown) || unknown || length > size - at) return -1;
    at += static_cast<size_t>(length);
    if (!ReadVint(head, size, &at, true, &id, nullptr) || id != kSegmentId) return -1;
    if (!ReadVint(head, size, &at, false, &length, &unknown) || unknown) return -1;
    if (length > static_cast<uint64_t>(INT64_MAX) - at) return -1;
    return static_cast<int64_t>(at + length);
}

uint32_t Le32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

DeclaredHead RiffHead(const uint8_t* head, size_t size) {
    DeclaredHead declared;
    if (size < 12 || std::memcmp(head, "RIFF", 4) != 0) return declared;
    const uint32_t length = Le32(head + 4);
    // A writer that stopped before its trailer leaves 0 (or only the form type).
    if (length > 4) declared.bytes = 8 + static_cast<int64_t>(length);
    // "AVI " LIST(hdrl) avih: frame time in microseconds, then at 16 the
    // frame count (of the first RIFF chunk only in files over 1 GB, which
    // makes it a lower bound).
    constexpr size_t kAvih = 24;
    if (size < kAvih + 8 + 20 || std::memcmp(head + 8, "AVI ", 4) != 0 || std::memcmp(head + 12, "LIST", 4) != 0 ||
        std::memcmp(head + 20, "hdrl", 4) != 0 || std::memcmp(head + kAvih, "avih", 4) != 0)
        return declared;
    const uint32_t frameMicroseconds = Le32(head + kAvih + 8);
    const uint32_t frames = Le32(head + kAvih + 8 + 16);
    if (frameMicroseconds > 0 && frames > 0)
        declared.microseconds = static_cast<int64_t>(frameMicroseconds) * static_cast<int64_t>(frames);
    return declared;
}

}  // namespace

DeclaringContainer DeclaringContainerOf(const char* formatName) {
    if (!formatName) return DeclaringContainer::kNone;
    const std::string_view name = formatName;
    if (name == "matroska,webm") return DeclaringContainer::kMatroska;
    if (name == "avi") return DeclaringContainer::kRiff;
    return DeclaringContainer::kNone;
}

DeclaredHead ReadDeclaredHead(DeclaringContainer container, const uint8_t* head, size_t size) {
    if (!head) return {};
    switch (container) {
        case DeclaringContainer::kMatroska: return {MatroskaLength(head, size), -1};
        case DeclaringContainer::kRiff: return RiffHead(head, size);
        case DeclaringContainer::kNone: return {};
    }
    return {};
}

DeclaredHead DeclaredHeadOf(AVFormatContext* context) {
    if (!context || !context->iformat || !context->pb) return {};
    const DeclaringContainer container = DeclaringContainerOf(context->iformat->name);
    if (container == DeclaringContainer::kNone) return {};
    AVIOContext* io = context->pb;
    const int64_t position = avio_tell(io);
    if (position < 0 || avio_seek(io, 0, SEEK_SET) < 0) return {};
    uint8_t head[kHeadBytes];
    const int read = avio_read(io, head, static_cast<int>(sizeof head));
    const bool restored = avio_seek(io, position, SEEK_SET) >= 0;
    if (!restored || read <= 0) return {};
    return ReadDeclaredHead(container, head, static_cast<size_t>(read));
}

}  // namespace kx
