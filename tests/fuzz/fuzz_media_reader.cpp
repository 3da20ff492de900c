// An arbitrary byte string as an input file, read the way a split reads it:
// readers of the first video and audio streams side by side, the search for
// key frames near some times, the key-frame scan, the video stream's description (a decoder of its own), every packet,
// a seek back into the middle and the packets after it, and a few decoded
// pictures and blocks of sound (converted to 16-bit PCM) from readers of
// their own.
#include "MediaFuzzSteps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxfuzz::DescribedInput input;
    if (!kxfuzz::Describe(data, size, &input)) return 0;
    const kxfuzz::FirstStreams streams = input.streams;
    kx::CTMultiDemuxer demuxer;
    if (!kxfuzz::OpenReaders(demuxer, input, {streams.video, streams.audio})) return 0;
    kxfuzz::FindKeyFramesAround(demuxer.GetAnalyze(), streams.video);
    kxfuzz::ScanKeyFrames(demuxer.GetAnalyze(), streams.video);
    kxfuzz::DescribeStream(demuxer.GetAnalyze(), streams.video);
    demuxer.StartDemuxer();
    kxfuzz::ReadPackets(demuxer.GetControl(), true);
    kxfuzz::DecodeSome(input.source, streams.video);
    kxfuzz::DecodeSome(input.source, streams.audio);
    return 0;
}
