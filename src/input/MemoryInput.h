// Reading an input from bytes in memory instead of a file: the same
// demuxers over an I/O context of our own (the media fuzz target, tests).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct AVIOContext;

namespace kx {

using InputBytes = std::shared_ptr<const std::vector<uint8_t>>;

// A seekable read-only I/O context over the bytes (which it keeps alive);
// null when it cannot be made. Release with CloseMemoryInput only.
AVIOContext* OpenMemoryInput(InputBytes bytes);
void CloseMemoryInput(AVIOContext** context);

}  // namespace kx
