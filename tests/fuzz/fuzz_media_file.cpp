// An arbitrary byte string as an input file, as far as every task reads it:
// the media information (with its packet count), one reader of its first
// video stream (else its first audio stream), every packet it hands out and
// the end-of-input judgement. The steps that open decoders, seek or read the
// input again are fuzz_media_reader's, so that this target stays fast.
#include "MediaFuzzSteps.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kxfuzz::QuietMediaLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kxfuzz::kMaxMediaInput) return 0;
    const kx::InputSource source = kxfuzz::MemorySource(data, size);
    kx::CTMediaInfo description;
    kxfuzz::FirstStreams streams;
    if (!kxfuzz::Describe(description, source, &streams)) return 0;
    kx::CTMultiDemuxer demuxer;
    const int32_t first = streams.video >= 0 ? streams.video : streams.audio;
    if (!kxfuzz::OpenReaders(demuxer, description, source, {first})) return 0;
    demuxer.StartDemuxer();
    kxfuzz::ReadPackets(demuxer.GetControl(), false);
    return 0;
}
