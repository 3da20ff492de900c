#include "input/DecodedFrameStore.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "input/PcmConversion.h"

namespace kx {

namespace {

int RoundUpEven(int value) { return value + (value & 1); }

int64_t PictureBytes(int w2, int h2) { return int64_t(w2) * h2 + 2 * int64_t(w2 / 2) * (h2 / 2); }

bool ReserveStorage(DecodedFrame* record, int64_t bytes) {
    if (bytes > INT_MAX) return false;
    if (record->storage && record->storageSize >= bytes) return true;
    auto* grown = new (std::nothrow) uint8_t[bytes > 0 ? bytes : 1];
    if (!grown) return false;
    delete[] record->storage;
    record->storage = grown;
    record->storageSize = static_cast<int32_t>(bytes);
    return true;
}

// One plane into a packed destination of dstWidth x dstHeight bytes.
void CopyPlane(uint8_t* dst, int dstWidth, int dstHeight, const uint8_t* src, int stride, int srcRowBytes,
               int srcRows) {
    for (int y = 0; y < dstHeight; ++y) {
        uint8_t* row = dst + int64_t(y) * dstWidth;
        if (!src || srcRows <= 0 || srcRowBytes <= 0) {
            std::memset(row, 128, dstWidth);
            continue;
        }
        const uint8_t* from = src + int64_t(std::min(y, srcRows - 1)) * stride;
        int n = std::min(dstWidth, srcRowBytes);
        std::memcpy(row, from, n);
        if (n < dstWidth) std::memset(row + n, from[n - 1], dstWidth - n);
    }
}

}  // namespace

DecodedFrame* CreateVideoFrameRecord(int width, int height) {
    auto* record = new (std::nothrow) DecodedFrame;
    if (!record) return nullptr;
    record->type = MediaType::kVideo;
    int w2 = RoundUpEven(std::max(width, 0));
    int h2 = RoundUpEven(std::max(height, 0));
    if (!ReserveStorage(record, PictureBytes(w2, h2))) {
        delete record;
        return nullptr;
    }
    return record;
}

DecodedFrame* CreateAudioFrameRecord(int channels, int sampleRate) {
    auto* record = new (std::nothrow) DecodedFrame;
    if (!record) return nullptr;
    record->type = MediaType::kAudio;
    int64_t bytes = int64_t(std::max(channels, 0)) * std::max(sampleRate, 0) * 2;
    if (bytes > INT_MAX) bytes = 0;
    if (bytes > 0) {
        record->audio.buffer = new (std::nothrow) uint8_t[bytes];
        if (record->audio.buffer) record->audio.capacity = static_cast<int32_t>(bytes);
    }
    record->audio.bytesHeld = 0;
    return record;
}

void FreeDecodedFrame(DecodedFrame* record) {
    if (!record) return;
    delete[] record->storage;
    delete[] record->audio.buffer;
    delete record;
}

bool FillVideoRecord(DecodedFrame* record, const AVFrame* frame) {
    if (!record || !frame || !frame->data[0] || frame->width <= 0 || frame->height <= 0) return false;
    int w2 = RoundUpEven(frame->width);
    int h2 = RoundUpEven(frame->height);
    if (!ReserveStorage(record, PictureBytes(w2, h2))) return false;

    auto format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    uint8_t* y = record->storage;
    uint8_t* u = y + int64_t(w2) * h2;
    uint8_t* v = u + int64_t(w2 / 2) * (h2 / 2);
    uint8_t* planes[3] = {y, u, v};
    for (int p = 0; p < 3; ++p) {
        int dstWidth = p ? w2 / 2 : w2;
        int dstHeight = p ? h2 / 2 : h2;
        int rowBytes = desc ? av_image_get_linesize(format, frame->width, p) : (p ? 0 : frame->width);
        int rows = frame->height;
        if (p && desc) rows = AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h);
        const uint8_t* src = frame->data[p];
        if (rowBytes <= 0 || !src) src = nullptr;
        if (p == 0 && !src) return false;
        CopyPlane(planes[p], dstWidth, dstHeight, src, frame->linesize[p], rowBytes, rows);
    }
    record->type = MediaType::kVideo;
    record->video.width = w2;
    record->video.height = h2;
    record->video.y = y;
    record->video.u = u;
    record->video.v = v;
    record->video.yRowLength = w2;
    record->video.uRowLength = w2 / 2;
    record->video.vRowLength = w2 / 2;
    return true;
}

bool FillAudioRecord(DecodedFrame* record, const AVFrame* frame) {
    if (!record || !frame) return false;
    const int64_t size = InterleavedS16Bytes(frame);
    if (size < 0 || size > INT_MAX - 512) return false;
    if (record->audio.capacity < size || !record->audio.buffer) {
        auto* grown = new (std::nothrow) uint8_t[size + 512];
        if (!grown) return false;
        delete[] record->audio.buffer;
        record->audio.buffer = grown;
        record->audio.capacity = static_cast<int32_t>(size + 512);
    }
    if (ConvertToInterleavedS16(frame, record->audio.buffer, record->audio.capacity) != size) return false;
    record->type = MediaType::kAudio;
    record->audio.bitsPerSample = 16;
    record->audio.channels = frame->ch_layout.nb_channels;
    record->audio.sampleRate = frame->sample_rate;
    record->audio.bytesHeld = static_cast<int32_t>(size);
    return true;
}

}  // namespace kx
