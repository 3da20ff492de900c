// The capability check against an arbitrary table file. The input's first
// line (up to 64 bytes) is the output file name, the rest the table; the
// first byte also picks the codecs asked about.
#include <string>

#include "caps/CodecNameTable.h"
#include "caps/LosslessCheck.h"
#include "FuzzSupport.h"
#include "input/DemuxTypes.h"
#include "output/MediaStreamPair.h"
#include "platform/WideString.h"

namespace {

// Video and audio codecs in our numbering: H.264, MPEG-1, MPEG-2, AAC, MP3, AC-3, and one without a table entry.
constexpr int32_t kVideoCodecs[] = {28, 1, 2, 0x7FFF};
constexpr int32_t kAudioCodecs[] = {0x15002, 0x15001, 0x15003, 0x7FFF};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kxfuzz::QuietLogs();
    kx::BuildCodecNameTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (64u << 10)) return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    if (newline == std::string::npos || newline > 64) newline = 0;
    const std::string outputName = newline ? input.substr(0, newline) : std::string("clip.mp4");
    const std::string table = newline ? input.substr(newline + 1) : input;

    const std::string path = kxfuzz::ScratchFolder() + "/table.xml";
    if (!kxfuzz::WriteFile(path, reinterpret_cast<const uint8_t*>(table.data()), table.size())) return 0;

    const uint8_t pick = size > 0 ? data[0] : 0;
    kx::StreamMediaInfo video;
    video.mediaType = kx::MediaType::kVideo;
    video.codecId = kVideoCodecs[pick & 3];
    kx::StreamMediaInfo audio;
    audio.mediaType = kx::MediaType::kAudio;
    audio.codecId = kAudioCodecs[(pick >> 2) & 3];
    kx::MediaStreamPair pair;
    pair.video = &video;
    pair.audio = (pick & 0x10) ? nullptr : &audio;

    const std::u16string tablePath = kx::Utf8ToWide(path);
    const std::u16string fileName = kx::Utf8ToWide(outputName);
    const bool first = kx::CheckMuxerValidWithTable(tablePath.c_str(), fileName.c_str(), &pair);
    // The check reads the file afresh each time: the same answer again.
    KX_FUZZ_CHECK(kx::CheckMuxerValidWithTable(tablePath.c_str(), fileName.c_str(), &pair) == first);
    // What takes the pair takes its sound alone.
    pair.video = nullptr;
    if (first && pair.audio) KX_FUZZ_CHECK(kx::CheckMuxerValidWithTable(tablePath.c_str(), fileName.c_str(), &pair));
    // Without a stream nothing is accepted.
    pair.audio = nullptr;
    KX_FUZZ_CHECK(!kx::CheckMuxerValidWithTable(tablePath.c_str(), fileName.c_str(), &pair));
    return 0;
}
