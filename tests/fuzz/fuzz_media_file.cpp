// An arbitrary byte string as an input file, as far as every task reads it:
// the media information (with its packet count), one reader of its first
// video stream (else its first audio stream), every packet it hands out and
// the end-of-input judgement. The steps that open decoders, seek or read the
// input again are fuzz_media_reader's, so that this target stays fast.
#include "MediaFuzzSteps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxfuzz::DescribedInput input;
    if (!kxfuzz::Describe(data, size, &input)) return 0;
    kx::CTMultiDemuxer demuxer;
    const int32_t first = input.streams.video >= 0 ? input.streams.video : input.streams.audio;
    if (!kxfuzz::OpenReaders(demuxer, input, {first})) return 0;
    demuxer.StartDemuxer();
    kxfuzz::ReadPackets(demuxer.GetControl(), false);
    return 0;
}
