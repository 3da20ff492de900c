#include "input/MediaFrameRecord.h"

#include <cstdlib>
#include <cstring>

namespace kx {

int64_t PlanarDataSize(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return -1;
    int64_t w = width, h = height;
    int64_t size = w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
    return size > kMaxFrameBytes ? -1 : size;
}

int32_t KnownBufferSize(const MediaFrameRecord& record) {
    int64_t size = 0;
    if (record.mediaType == KX_SAMPLE_AUDIO) {
        if (record.audio.buffer) size = record.audio.capacity;
    } else if (record.mediaType == KX_SAMPLE_VIDEO) {
        switch (record.video.format) {
        case KX_FRAME_BITMAP:
            if (record.video.bitmap.pixels) size = record.video.bitmap.header.biSizeImage;
            break;
        case KX_FRAME_PLANAR:
            if (record.video.planar.y) size = PlanarDataSize(record.video.planar.width, record.video.planar.height);
            break;
        case KX_FRAME_BYTES:
            if (record.video.bytes.data) size = record.video.bytes.capacity;
            break;
        default:
            break;
        }
    }
    if (size < 0) return 0;
    return size > kMaxFrameBytes ? static_cast<int32_t>(kMaxFrameBytes) : static_cast<int32_t>(size);
}

const uint8_t* FrameBuffer(const MediaFrameRecord& record) {
    if (record.mediaType == KX_SAMPLE_AUDIO) return record.audio.buffer;
    if (record.mediaType != KX_SAMPLE_VIDEO) return nullptr;
    switch (record.video.format) {
    case KX_FRAME_BITMAP: return record.video.bitmap.pixels;
    case KX_FRAME_PLANAR: return record.video.planar.y;
    case KX_FRAME_BYTES: return record.video.bytes.data;
    default: return nullptr;
    }
}

MediaFrameRecord* NewFrameRecord() { return static_cast<MediaFrameRecord*>(std::calloc(1, sizeof(MediaFrameRecord))); }

void FreeFrameBuffers(MediaFrameRecord& record) {
    if (record.mediaType == KX_SAMPLE_AUDIO) {
        std::free(record.audio.buffer);
        record.audio.buffer = nullptr;
        record.audio.bytesHeld = 0;
        record.audio.capacity = 0;
        return;
    }
    if (record.mediaType != KX_SAMPLE_VIDEO) return;
    switch (record.video.format) {
    case KX_FRAME_BITMAP:
        std::free(record.video.bitmap.pixels);
        record.video.bitmap.pixels = nullptr;
        record.video.bitmap.header.biSizeImage = 0;
        break;
    case KX_FRAME_PLANAR: {
        // One buffer, starting with the Y plane; the other planes point into it.
        MediaFramePlanar& planar = record.video.planar;
        std::free(planar.y);
        planar.y = planar.u = planar.v = planar.alpha = nullptr;
        planar.yRowLength = planar.uRowLength = planar.vRowLength = planar.alphaRowLength = 0;
        break;
    }
    case KX_FRAME_BYTES:
        std::free(record.video.bytes.data);
        record.video.bytes.data = nullptr;
        record.video.bytes.bytesHeld = 0;
        record.video.bytes.capacity = 0;
        break;
    default:
        break;
    }
}

void FreeFrameRecord(MediaFrameRecord* record) {
    if (!record) return;
    FreeFrameBuffers(*record);
    std::free(record);
}

MediaFrameRecord* CreatePlanarVideoRecord(int32_t width, int32_t height) {
    if (PlanarDataSize(width, height) < 0) return nullptr;
    int64_t luma = int64_t(width) * height;
    int32_t chromaWidth = static_cast<int32_t>((int64_t(width) + 1) / 2);
    int64_t chroma = int64_t(chromaWidth) * ((int64_t(height) + 1) / 2);
    int64_t bytes = (chroma + luma) * 2 + 512;
    if (bytes > kMaxFrameBytes) return nullptr;
    MediaFrameRecord* record = NewFrameRecord();
    auto* buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
    if (!record || !buffer) {
        std::free(record);
        std::free(buffer);
        return nullptr;
    }
    MediaFramePlanar& planar = record->video.planar;
    record->mediaType = KX_SAMPLE_VIDEO;
    record->video.format = KX_FRAME_PLANAR;
    planar.layout = 2;
    planar.y = buffer;
    planar.v = buffer + luma;
    planar.u = planar.v + chroma;
    planar.alpha = planar.u + chroma;
    std::memset(planar.y, 16, static_cast<size_t>(luma));
    std::memset(planar.v, 128, static_cast<size_t>(chroma * 2));
    std::memset(planar.alpha, 255, static_cast<size_t>(bytes - luma - 2 * chroma));
    planar.width = width;
    planar.height = height;
    planar.yRowLength = width;
    planar.uRowLength = chromaWidth;
    planar.vRowLength = chromaWidth;
    planar.alphaRowLength = width;
    record->decodeTime = -1;
    record->presentationTime = -1;
    return record;
}

MediaFrameRecord* CreateAudioRecord(int32_t sampleRate, int32_t channels) {
    MediaFrameRecord* record = NewFrameRecord();
    auto* buffer = static_cast<uint8_t*>(std::calloc(1, kAudioRecordBytes));
    if (!record || !buffer) {
        std::free(record);
        std::free(buffer);
        return nullptr;
    }
    record->mediaType = KX_SAMPLE_AUDIO;
    record->audio.sampleRate = sampleRate;
    record->audio.channels = channels;
    record->audio.bitsPerSample = 16;
    record->audio.buffer = buffer;
    record->audio.capacity = kAudioRecordBytes;
    record->decodeTime = -1;
    record->presentationTime = -1;
    return record;
}

}  // namespace kx
