// An arbitrary byte file through the converter, as a host would use it:
// AddFile, the media information, OpenStream of its first video and audio
// streams, the key-frame scan, a few decoded frames, and a split of its first
// two seconds. Inputs are capped at 128 KB and every task is waited for with
// a time-out, so that each input takes bounded time.
#include <filesystem>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "FuzzSupport.h"
#include "TestSupport.h"

namespace {

using kxtest::Bstr;
using kxtest::CreateConverter;

constexpr size_t kMaxInput = 128u << 10;
constexpr uint32_t kTaskTimeoutMs = 20000;
const char16_t* const kOutputExtensions[] = {u".mp4", u".mkv", u".ts", u".m2ts", u".avi"};

// The first video and audio stream indexes that the media information names;
// -1 for none. Without media information: streams 0 and 1, the usual layout.
void FindStreams(IStreamwright* converter, int64_t id, int32_t* video, int32_t* audio) {
    *video = 0;
    *audio = 1;
    ILossCopyMediaInfo* info = converter->GetFileMediaInfo(id);
    if (!info) return;
    *video = *audio = -1;
    if (FileMediaInfo* file = info->GetInfo()) {
        for (uint32_t p = 0; p < file->programCount && file->programs; ++p) {
            const ProgramInfo& program = file->programs[p];
            if (*video < 0 && program.videoCount > 0 && program.videos)
                *video = static_cast<int32_t>(program.videos[0].streamIndex);
            if (*audio < 0 && program.audioCount > 0 && program.audios)
                *audio = static_cast<int32_t>(program.audios[0].streamIndex);
        }
    }
    info->Release();
}

void ReadSomeFrames(IStreamwright* converter, int64_t id, int32_t index, int32_t kind) {
    IMediaStreamEx* stream = nullptr;
    if (converter->GetStream(id, index, kind, &stream) != KX_S_OK || !stream) return;
    for (int i = 0; i < 8 && stream->ReadNextFrame() == 1; ++i) {
    }
    stream->Release();
}

void SplitFirstSeconds(IStreamwright* converter, int64_t id, const std::string& folder, size_t size) {
    ClipRange clip{0, 2 * 10'000'000LL, 0};
    if (converter->AddTimeClip(id, &clip) != KX_S_OK) return;
    Bstr path(folder);
    converter->SetOutputPath(path);
    Bstr extension(kOutputExtensions[size % 5]);
    converter->SetOutputExtension(extension);
    converter->GetOutputCount(id);
    const HRESULT prepared = converter->PrepareTask();
    if (kxfuzz::Verbose()) std::fprintf(stderr, "PrepareTask: %d\n", prepared);
    if (prepared != KX_S_OK) return;
    converter->StartDemuxers();
    if (converter->Start() != KX_S_OK) return;
    if (converter->WaitForCompletion(kTaskTimeoutMs) != KX_WAIT_OBJECT_0) kxfuzz::PropertyFailed("split did not end");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kxfuzz::QuietLogs();
    // The media library reports every broken input; only our own lines matter here.
    if (!kxfuzz::Verbose()) av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const std::string input = kxfuzz::ScratchFolder() + "/input.bin";
    const std::string output = kxfuzz::ScratchFolder() + "/out";
    if (!kxfuzz::WriteFile(input, data, size)) return 0;
    std::error_code ignored;
    std::filesystem::create_directories(output, ignored);

    IStreamwright* converter = CreateConverter();
    if (!converter) kxfuzz::PropertyFailed("no converter");
    Bstr name(input);
    const int64_t id = converter->AddFile(name);
    if (id >= 0) {
        int32_t video = -1, audio = -1;
        FindStreams(converter, id, &video, &audio);
        bool opened = false;
        if (video >= 0) opened |= converter->OpenStream(id, video, KX_STREAM_VIDEO) == KX_S_OK;
        if (audio >= 0) opened |= converter->OpenStream(id, audio, KX_STREAM_AUDIO) == KX_S_OK;
        KeyFrameList keyFrames{0, nullptr, 0};
        KeyFrameList* keyFramesOut = &keyFrames;
        converter->GetFileKeyFrameIndex(id, &keyFramesOut);
        KX_FUZZ_CHECK(keyFrames.count >= 0 && keyFrames.count <= keyFrames.capacity);
        if (kxfuzz::Verbose())
            std::fprintf(stderr, "file %lld: video %d audio %d opened %d key frames %lld\n", static_cast<long long>(id),
                         video, audio, opened ? 1 : 0, static_cast<long long>(keyFrames.count));
        KX_FreeKeyFrameList(&keyFrames);
        if (video >= 0) ReadSomeFrames(converter, id, video, KX_STREAM_VIDEO);
        if (opened) SplitFirstSeconds(converter, id, output, size);
    }
    converter->Release();
    std::filesystem::remove_all(output, ignored);
    return 0;
}
