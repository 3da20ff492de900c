// What a container declares about its own size in its first bytes:
// Matroska's segment size; AVI's RIFF chunk size and, from its main
// header, frame count times frame time. A file shorter than its declared
// length was cut short, even where the cut falls between two packets and
// nothing read looks broken. Formats that declare no length (transport and
// program streams, raw streams) and MP4 (whose index already places every
// packet) have none.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVFormatContext;

namespace kx {

enum class DeclaringContainer { kNone, kMatroska, kRiff };

// The container whose head declares a length, by the library's format name.
DeclaringContainer DeclaringContainerOf(const char* formatName);

struct DeclaredHead {
    int64_t bytes = -1;         // from the start of the file to the end it declares
    int64_t microseconds = -1;  // the duration it declares (AVI), when the library may not
};

// -1 for what the head does not say (or leaves unknown, as a live writer
// does).
DeclaredHead ReadDeclaredHead(DeclaringContainer container, const uint8_t* head, size_t size);

// The same, read from the start of an opened input; the read position is
// put back where it was.
DeclaredHead DeclaredHeadOf(AVFormatContext* context);

}  // namespace kx
