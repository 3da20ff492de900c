// An arbitrary byte string as an input file, read the way a split reads it:
// readers of the first video and audio streams side by side, the key-frame
// scan, the video stream's description (a decoder of its own), every packet,
// a seek back into the middle and the packets after it, and a few decoded
// frames from a reader of its own.
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
    if (!kxfuzz::OpenReaders(demuxer, description, source, {streams.video, streams.audio})) return 0;
    kxfuzz::ScanKeyFrames(demuxer.GetAnalyze(), streams.video);
    kxfuzz::DescribeStream(demuxer.GetAnalyze(), streams.video);
    demuxer.StartDemuxer();
    kxfuzz::ReadPackets(demuxer.GetControl(), true);
    kxfuzz::DecodeSome(source, streams.video);
    return 0;
}
