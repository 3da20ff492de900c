#include "media/MediaKernel.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "caps/CodecIdTable.h"

namespace kx {

namespace {

struct LibraryCodec {
    const char* name;
    AVCodecID id;
};

// Every enumerator of the linked library's AVCodecID, by name (generated from
// its header at configure time).
const LibraryCodec g_libraryCodecs[] = {
#include "LibraryCodecIds.inc"
};

std::atomic<bool> g_silenced{false};
thread_local MediaErrorCapture* t_capture = nullptr;

// One callback for the process: it keeps errors for a capture on the
// calling thread, then prints or drops the message as before.
void LibraryLog(void* object, int level, const char* format, va_list arguments) {
    if (t_capture && level <= AV_LOG_ERROR && format) {
        char text[512];
        va_list copy;
        va_copy(copy, arguments);
        std::vsnprintf(text, sizeof text, format, copy);
        va_end(copy);
        std::string message(text);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.pop_back();
        if (!message.empty()) t_capture->Keep(std::move(message));
    }
    if (!g_silenced.load(std::memory_order_relaxed)) av_log_default_callback(object, level, format, arguments);
}

void InstallLibraryLog() {
    static const bool installed = [] {
        av_log_set_callback(&LibraryLog);
        return true;
    }();
    (void)installed;
}

struct CodecMaps {
    std::unordered_map<int32_t, AVCodecID> toLibrary;
    std::unordered_map<int32_t, int32_t> fromLibrary;

    CodecMaps() {
        std::unordered_map<std::string_view, AVCodecID> byName;
        for (const auto& codec : g_libraryCodecs) byName.emplace(codec.name, codec.id);
        size_t count = 0;
        const CodecIdRow* rows = CodecIdRows(&count);
        for (size_t i = 0; i < count; ++i) {
            auto it = byName.find(rows[i].name);
            AVCodecID library = it == byName.end() ? AV_CODEC_ID_NONE : it->second;
            toLibrary.emplace(rows[i].id, library);  // first row of an identifier stays
            if (library != AV_CODEC_ID_NONE || rows[i].id == 0)
                fromLibrary.emplace(static_cast<int32_t>(library), rows[i].id);
        }
    }
};

const CodecMaps& Maps() {
    static const CodecMaps maps;  // built once, thread-safe
    return maps;
}

}  // namespace

void InitMediaKernel() {
    // FFmpeg 4+ registers everything itself; the codec maps are built here so
    // that later look-ups from other threads only read.
    (void)Maps();
    static const bool limited = [] {
        av_max_alloc(kMaxLibraryAllocation);
        return true;
    }();
    (void)limited;
    InstallLibraryLog();
}

void SilenceMediaLibraryLog() {
    g_silenced = true;
    InstallLibraryLog();
}

MediaErrorCapture::MediaErrorCapture() : outer_(t_capture) {
    InstallLibraryLog();
    t_capture = this;
}

MediaErrorCapture::~MediaErrorCapture() { t_capture = outer_; }

AVCodecID ToLibraryCodecId(int32_t codecId) {
    // Rows first: some lie above the base (four-character tags, and the rows
    // for codecs the old numbering lacks).
    const auto& map = Maps().toLibrary;
    auto it = map.find(codecId);
    if (it != map.end()) return it->second;
    if (codecId >= kUnmappedCodecBase) return static_cast<AVCodecID>(codecId - kUnmappedCodecBase);
    return AV_CODEC_ID_NONE;
}

int32_t FromLibraryCodecId(AVCodecID codecId) {
    const auto& map = Maps().fromLibrary;
    auto it = map.find(static_cast<int32_t>(codecId));
    if (it != map.end()) return it->second;
    return kUnmappedCodecBase + static_cast<int32_t>(codecId);
}

}  // namespace kx
