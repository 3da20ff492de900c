#include "input/MemoryInput.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace kx {

namespace {

constexpr int kBufferBytes = 32 * 1024;

struct MemoryReader {
    InputBytes bytes;
    int64_t position = 0;
};

int Read(void* opaque, uint8_t* buffer, int size) {
    auto* reader = static_cast<MemoryReader*>(opaque);
    const int64_t total = static_cast<int64_t>(reader->bytes->size());
    const int64_t left = total - reader->position;
    if (left <= 0) return AVERROR_EOF;
    const int count = static_cast<int>(std::min<int64_t>(left, size));
    std::memcpy(buffer, reader->bytes->data() + reader->position, static_cast<size_t>(count));
    reader->position += count;
    return count;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* reader = static_cast<MemoryReader*>(opaque);
    const int64_t total = static_cast<int64_t>(reader->bytes->size());
    int64_t target;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return total;
        case SEEK_SET: target = offset; break;
        case SEEK_CUR: target = reader->position + offset; break;
        case SEEK_END: target = total + offset; break;
        default: return AVERROR(EINVAL);
    }
    if (target < 0) return AVERROR(EINVAL);
    reader->position = target;  // past the end reads as the end, as a file does
    return target;
}

}  // namespace

AVIOContext* OpenMemoryInput(InputBytes bytes) {
    if (!bytes) return nullptr;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (!buffer) return nullptr;
    auto* reader = new MemoryReader{std::move(bytes), 0};
    AVIOContext* context = avio_alloc_context(buffer, kBufferBytes, 0, reader, &Read, nullptr, &Seek);
    if (!context) {
        av_free(buffer);
        delete reader;
        return nullptr;
    }
    context->seekable = AVIO_SEEKABLE_NORMAL;
    return context;
}

void CloseMemoryInput(AVIOContext** context) {
    if (!context || !*context) return;
    delete static_cast<MemoryReader*>((*context)->opaque);
    av_freep(&(*context)->buffer);  // the library may have replaced the one we gave
    avio_context_free(context);
}

}  // namespace kx
